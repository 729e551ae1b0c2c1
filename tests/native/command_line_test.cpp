#include "app/command_line.h"

#include <gtest/gtest.h>

#include <limits>

namespace quentar {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<U16String> args;  // without argv[0]
    bool updateMode;
    const char16_t* exePath;
    const char16_t* exeFolder;
    uint32_t window;
};

// Names the case in test listings (otherwise its bytes, which change between runs).
void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

class CommandLineTable : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTable, ParsesIntoUpdateFields) {
    const CommandLineCase& c = GetParam();
    std::vector<U16String> argv{u"Setup.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const UpdateArguments a = ParseCommandLine(argv);
    EXPECT_EQ(a.updateMode, c.updateMode);
    EXPECT_EQ(a.updateExePath, U16String(c.exePath));
    EXPECT_EQ(a.updateExeFolder, U16String(c.exeFolder));
    EXPECT_EQ(a.updateWindow, c.window);
}

const CommandLineCase kCases[] = {
    {"none", {}, false, u"", u"", 0},
    {"upper_case_key", {u"/UPDATE:x"}, true, u"", u"", 0},
    {"no_slash", {u"update:x"}, false, u"", u"", 0},
    {"no_colon", {u"/update"}, false, u"", u"", 0},
    {"colon_first", {u":x"}, false, u"", u"", 0},
    {"empty_argument", {u""}, false, u"", u"", 0},
    {"empty_value", {u"/update:"}, true, u"", u"", 0},
    {"unknown_key", {u"/verbose:1", u"/exe"}, false, u"", u"", 0},
    // Keys compare whole: a longer key that starts like a known one is unknown.
    {"longer_key_not_update", {u"/updates:1"}, false, u"", u"", 0},
    {"longer_key_not_window", {u"/whx:5"}, false, u"", u"", 0},
    {"longer_key_not_exe", {u"/exes:C:\\A\\b.exe"}, false, u"", u"", 0},
    {"shorter_key_not_update", {u"/updat:1"}, false, u"", u"", 0},
    {"window_blanks", {u"/wh:  1234"}, false, u"", u"", 1234},
    {"window_quoted", {u"/wh:\"1234\""}, false, u"", u"", 1234},
    {"window_quoted_blanks", {u"/wh: \"1234\"  "}, false, u"", u"", 1234},
    {"window_letters", {u"/wh:abc"}, false, u"", u"", 0},
    {"window_digits_then_text", {u"/wh:12ab3"}, false, u"", u"", 12},
    {"window_low_32_bits", {u"/wh:4294967297"}, false, u"", u"", 1},
    {"window_minus_one", {u"/wh:-1"}, false, u"", u"", 0xFFFFFFFFu},
    {"window_plus", {u"/wh:+77"}, false, u"", u"", 77},
    // At and one below the 64-bit limits the value is exact (low 32 bits of
    // 0x7FFFFFFFFFFFFFFE, 0x7FFFFFFFFFFFFFFF, 0x8000000000000001,
    // 0x8000000000000000); only beyond them does it saturate.
    {"window_one_below_maximum", {u"/wh:9223372036854775806"}, false, u"", u"", 0xFFFFFFFEu},
    {"window_maximum", {u"/wh:9223372036854775807"}, false, u"", u"", 0xFFFFFFFFu},
    {"window_one_above_minimum", {u"/wh:-9223372036854775807"}, false, u"", u"", 1},
    {"window_minimum", {u"/wh:-9223372036854775808"}, false, u"", u"", 0},
    {"window_saturates", {u"/wh:99999999999999999999999"}, false, u"", u"", 0xFFFFFFFFu},
    {"window_saturates_negative", {u"/wh:-99999999999999999999999"}, false, u"", u"", 0},
    {"window_key_mixed_case", {u"/Wh:5"}, false, u"", u"", 5},
    {"exe_full_path", {u"/exe:C:\\Apps\\Quentar\\Quentar.exe"}, false,
     u"C:\\Apps\\Quentar\\Quentar.exe", u"C:\\Apps\\Quentar", 0},
    {"exe_quoted", {u"/exe:\"C:\\Apps\\Quentar\\Quentar.exe\""}, false,
     u"C:\\Apps\\Quentar\\Quentar.exe", u"C:\\Apps\\Quentar", 0},
    {"exe_colon_in_value", {u"/EXE:C:\\A\\b.exe"}, false, u"C:\\A\\b.exe", u"C:\\A", 0},
    {"exe_bare_name", {u"/exe:Quentar.exe"}, false, u"Quentar.exe", u"", 0},
    {"exe_backslash_at_zero", {u"/exe:\\Quentar.exe"}, false, u"\\Quentar.exe", u"", 0},
    {"exe_twice_keeps_folder", {u"/exe:C:\\A\\b.exe", u"/exe:c.exe"}, false, u"c.exe", u"C:\\A", 0},
    {"exe_twice_replaces_folder", {u"/exe:C:\\A\\b.exe", u"/exe:D:\\B\\c.exe"}, false,
     u"D:\\B\\c.exe", u"D:\\B", 0},
    {"full_update", {u"/update:1", u"/wh:656", u"/exe:C:\\Q\\Quentar.exe"}, true,
     u"C:\\Q\\Quentar.exe", u"C:\\Q", 656},
    {"later_window_wins", {u"/wh:1", u"/wh:2"}, false, u"", u"", 2},
    // Only A-Z are folded: a key with a non-ASCII capital stays unknown.
    {"non_ascii_key_not_folded", {u"/\u0130xe:C:\\A\\b.exe"}, false, u"", u"", 0},
};

INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The options of an installation without a window. The update fields must
// not move for any of these rows, and the update keys must not move these.
struct OptionsCase {
    const char* name;
    std::vector<U16String> args;  // without argv[0]
    SetupOptions expected;
};

SetupOptions Options(bool quiet, const char16_t* directory, const char16_t* components, bool noDesktop,
                     bool noRestart, const char16_t* logFile) {
    SetupOptions o;
    o.quiet = quiet;
    o.directoryGiven = directory != nullptr;
    o.directory = directory != nullptr ? directory : u"";
    o.componentsGiven = components != nullptr;
    o.components = components != nullptr ? components : u"";
    o.noDesktop = noDesktop;
    o.noRestart = noRestart;
    o.logFile = logFile;
    return o;
}

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class OptionsTable : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTable, ParsesIntoOptions) {
    const OptionsCase& c = GetParam();
    std::vector<U16String> argv{u"Setup.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const CommandLine line = ParseSetupCommandLine(argv);
    const SetupOptions& o = line.options;
    const SetupOptions& e = c.expected;
    EXPECT_EQ(o.quiet, e.quiet);
    EXPECT_EQ(o.directoryGiven, e.directoryGiven);
    EXPECT_EQ(ToUtf8(o.directory), ToUtf8(e.directory));
    EXPECT_EQ(o.componentsGiven, e.componentsGiven);
    EXPECT_EQ(ToUtf8(o.components), ToUtf8(e.components));
    EXPECT_EQ(o.noDesktop, e.noDesktop);
    EXPECT_EQ(o.noRestart, e.noRestart);
    EXPECT_EQ(ToUtf8(o.logFile), ToUtf8(e.logFile));
    EXPECT_FALSE(line.update.updateMode);
    EXPECT_EQ(line.update.updateExePath, u"");
    EXPECT_EQ(line.update.updateWindow, 0u);
}

const OptionsCase kOptionCases[] = {
    {"none", {}, Options(false, nullptr, nullptr, false, false, u"")},
    // The switches with or without a colon; what follows the colon is not used.
    {"quiet_bare", {u"/quiet"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"quiet_colon", {u"/quiet:"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"quiet_value_unused", {u"/QUIET:no"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"switches_bare_mixed_case", {u"/Quiet", u"/NoDesktop", u"/NORESTART"},
     Options(true, nullptr, nullptr, true, true, u"")},
    {"switches_with_colons", {u"/nodesktop:", u"/norestart:1"}, Options(false, nullptr, nullptr, true, true, u"")},
    // A switch is the whole argument: near misses stay unknown.
    {"quiet_blank_after", {u"/quiet "}, Options(false, nullptr, nullptr, false, false, u"")},
    {"quiet_no_slash", {u"quiet"}, Options(false, nullptr, nullptr, false, false, u"")},
    {"quieter", {u"/quieter"}, Options(false, nullptr, nullptr, false, false, u"")},
    {"quiet_colon_first", {u":/quiet"}, Options(false, nullptr, nullptr, false, false, u"")},
    // Keys with values keep the rule of every key: no colon, no key.
    {"dir_without_colon", {u"/dir"}, Options(false, nullptr, nullptr, false, false, u"")},
    {"log_without_colon", {u"/log"}, Options(false, nullptr, nullptr, false, false, u"")},
    {"dir", {u"/dir:C:\\Q"}, Options(false, u"C:\\Q", nullptr, false, false, u"")},
    {"dir_quoted_blanks", {u"/DIR: \"C:\\Program Files\\Q\" "},
     Options(false, u"C:\\Program Files\\Q", nullptr, false, false, u"")},
    // The runtime turns "C:\Q\" written in quotes into C:\Q" (the backslash
    // escapes the quote): the trailing quote goes.
    {"dir_escaped_quote", {u"/dir:C:\\Q\""}, Options(false, u"C:\\Q", nullptr, false, false, u"")},
    // A folder written with a trailing backslash names the same folder; a
    // drive root keeps its own.
    {"dir_trailing_backslashes", {u"/dir:C:\\Apps\\Q\\\\"}, Options(false, u"C:\\Apps\\Q", nullptr, false, false, u"")},
    {"dir_drive_root", {u"/dir:C:\\"}, Options(false, u"C:\\", nullptr, false, false, u"")},
    {"dir_long_path_drive_root", {u"/dir:\\\\?\\C:\\\\"}, Options(false, u"\\\\?\\C:\\", nullptr, false, false, u"")},
    {"dir_share_trailing_backslash", {u"/dir:\\\\server\\share\\Q\\"},
     Options(false, u"\\\\server\\share\\Q", nullptr, false, false, u"")},
    {"dir_empty_is_given", {u"/dir:"}, Options(false, u"", nullptr, false, false, u"")},
    {"dir_later_wins", {u"/dir:C:\\A", u"/dir:D:\\B"}, Options(false, u"D:\\B", nullptr, false, false, u"")},
    {"components", {u"/components:app,axis"}, Options(false, nullptr, u"app,axis", false, false, u"")},
    {"components_empty_is_given", {u"/Components:"}, Options(false, nullptr, u"", false, false, u"")},
    {"log", {u"/log:C:\\q.log"}, Options(false, nullptr, nullptr, false, false, u"C:\\q.log")},
    {"log_empty", {u"/log:"}, Options(false, nullptr, nullptr, false, false, u"")},
    {"everything",
     {u"/quiet", u"/dir:C:\\Q", u"/components:app", u"/nodesktop", u"/norestart", u"/log:C:\\q.log"},
     Options(true, u"C:\\Q", u"app", true, true, u"C:\\q.log")},
    // Other installers' switches for a run without a window mean /quiet,
    // with or without a colon; near misses stay unknown.
    {"alias_S", {u"/S"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"alias_silent", {u"/silent"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"alias_verysilent", {u"/VERYSILENT"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"alias_qn", {u"/qn"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"alias_q_colon", {u"/Q:"}, Options(true, nullptr, nullptr, false, false, u"")},
    {"alias_near_misses", {u"/qb", u"/sp-", u"-s", u"/silently"}, Options(false, nullptr, nullptr, false, false, u"")},
    // "/dir:"C:\Video\Quentar\" /nodesktop" reaches the program as one
    // argument, the backslash having escaped the quote: the quote ends the
    // folder, and the rest is read as the arguments it was meant to be.
    {"dir_quote_swallows_the_rest", {u"/dir:C:\\Video\\Quentar\" /nodesktop /log:C:\\q.log"},
     Options(false, u"C:\\Video\\Quentar", nullptr, true, false, u"C:\\q.log")},
    {"log_quote_swallows_the_rest", {u"/log:C:\\Logs\\q.log\"  /quiet\t/norestart"},
     Options(true, nullptr, nullptr, false, true, u"C:\\Logs\\q.log")},
    // What was cut off comes before the arguments that follow it.
    {"cut_off_read_in_order", {u"/dir:C:\\A\" /dir:D:\\B", u"/dir:E:\\C"},
     Options(false, u"E:\\C", nullptr, false, false, u"")},
    {"cut_off_then_another_quote", {u"/dir:C:\\A\" /log:C:\\x.log\" /nodesktop"},
     Options(false, u"C:\\A", nullptr, true, false, u"C:\\x.log")},
    // A quoted list keeps its blanks; other keys' values are not cut.
    {"components_quoted_with_blank", {u"/components:app, arecont"},
     Options(false, nullptr, u"app, arecont", false, false, u"")},
};

INSTANTIATE_TEST_SUITE_P(Arguments, OptionsTable, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, UpdateAndQuietTogether) {
    const CommandLine line = ParseSetupCommandLine(
        {u"Setup.exe", u"/quiet", u"/update:", u"/wh:656", u"/exe:C:\\Q\\Quentar.exe", u"/log:C:\\u.log"});
    EXPECT_TRUE(line.options.quiet);
    EXPECT_EQ(ToUtf8(line.options.logFile), "C:\\u.log");
    EXPECT_TRUE(line.update.updateMode);
    EXPECT_EQ(line.update.updateWindow, 656u);
    EXPECT_EQ(ToUtf8(line.update.updateExeFolder), "C:\\Q");
}

// The log's account of the command line: what the run acts on, values with
// blanks in quotes.
TEST(CommandLine, DescribedAsUnderstood) {
    const struct {
        std::vector<U16String> args;
        const char* described;
    } cases[] = {
        {{}, "none"},
        {{u"/unknown:1", u"/update"}, "none"},
        {{u"/S", u"/dir:C:\\Program Files\\Q\" /nodesktop", u"/components:app,axis"},
         "/quiet /dir:\"C:\\Program Files\\Q\" /components:app,axis /nodesktop"},
        {{u"/log:C:\\q.log", u"/norestart", u"/dir:", u"/components:"},
         "/dir:\"\" /components:\"\" /norestart /log:C:\\q.log"},
        {{u"/quiet", u"/update:", u"/wh:656", u"/exe:C:\\Q\\Quentar.exe"},
         "/update: /wh:656 /exe:C:\\Q\\Quentar.exe /quiet"},
        {{u"/quiet", u"/packagetimeout:5"}, "/quiet /packagetimeout:5"},
    };
    for (const auto& c : cases) {
        std::vector<U16String> argv{u"Setup.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(ToUtf8(DescribeCommandLine(ParseSetupCommandLine(argv))), c.described);
    }
}

TEST(PackageTimeout, TakesWholeMinutesTheTickCountCanMeasure) {
    const CommandLine line = ParseSetupCommandLine({u"Setup.exe", u"/quiet", u"/PackageTimeout: \"45\" "});
    EXPECT_TRUE(line.options.packageTimeoutGiven);
    EXPECT_EQ(ToUtf8(line.options.packageTimeout), "45");
    EXPECT_FALSE(ParseSetupCommandLine({u"Setup.exe", u"/quiet"}).options.packageTimeoutGiven);

    struct Case {
        const char16_t* text;
        bool ok;
        uint32_t minutes;
    } cases[] = {
        {u"30", true, 30},
        {u"1", true, 1},
        {u"007", true, 7},
        {u"71582", true, kMaxPackageTimeoutMinutes},
        // 71583 minutes are more milliseconds than the tick count's 32 bits.
        {u"71583", false, 0},
        {u"99999999999999999999999", false, 0},
        {u"0", false, 0},
        {u"", false, 0},
        {u"-5", false, 0},
        {u"+5", false, 0},
        {u"1.5", false, 0},
        {u"5 min", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        uint32_t minutes = 99;
        EXPECT_EQ(ParsePackageTimeout(c.text, minutes), c.ok);
        EXPECT_EQ(minutes, c.minutes);
    }
}

TEST(ComponentList, ReadsNamesAndRefusesWhatCannotBeInstalled) {
    struct Case {
        const char16_t* list;
        bool ok;
        bool application, arecont, axis;
        const char* problem;
    } cases[] = {
        {u"app,arecont,axis", true, true, true, true, ""},
        {u" Axis , APP ", true, true, false, true, ""},
        {u"app", true, true, false, false, ""},
        {u"axis", true, false, false, true, ""},
        {u"app,app", true, true, false, false, ""},
        {u"", false, false, false, false, "no component named (known: app, arecont, axis)"},
        {u"  ", false, false, false, false, "no component named (known: app, arecont, axis)"},
        // What the runtime leaves of "/components:app, arecont".
        {u"app,", false, false, false, false,
         "empty component name in \"app,\" (write the names without blanks, e.g. app,arecont)"},
        {u"app,,axis", false, false, false, false,
         "empty component name in \"app,,axis\" (write the names without blanks, e.g. app,arecont)"},
        {u" , ", false, false, false, false,
         "empty component name in \" , \" (write the names without blanks, e.g. app,arecont)"},
        {u"app,ap", false, false, false, false, "unknown component \"ap\" (known: app, arecont, axis)"},
        {u"app arecont", false, false, false, false,
         "unknown component \"app arecont\" (known: app, arecont, axis)"},
        {u"arecont,axis", false, false, false, false, "arecont is installed with app only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.list));
        ComponentChoice choice;
        choice.application = choice.arecont = choice.axis = true;  // nothing of this may survive
        U16String problem = u"stale";
        ASSERT_EQ(ParseComponentList(c.list, choice, problem), c.ok);
        EXPECT_EQ(ToUtf8(problem), c.problem);
        if (!c.ok) continue;
        EXPECT_EQ(choice.application, c.application);
        EXPECT_EQ(choice.arecont, c.arecont);
        EXPECT_EQ(choice.axis, c.axis);
    }
}

TEST(UpdatePrefill, WritesDestinationAndTemporaryPathInUpdateModeOnly) {
    struct Case {
        std::vector<U16String> args;
        const char16_t* destination;
        const char16_t* applicationPath;
    } cases[] = {
        {{u"Setup.exe", u"/update:", u"/exe:C:\\Apps\\Quentar\\Quentar.exe"}, u"C:\\Apps\\Quentar",
         u"C:\\Apps\\Quentar\\Quentar.exe.tmp"},
        {{u"Setup.exe", u"/update:", u"/exe:Quentar.exe"}, u"", u"Quentar.exe.tmp"},
        {{u"Setup.exe", u"/update:"}, u"", u".tmp"},
        {{u"Setup.exe", u"/exe:C:\\Apps\\Quentar\\Quentar.exe"}, u"untouched", u"untouched"},
    };
    for (const Case& c : cases) {
        InstallState state;
        state.destinationFolder = state.applicationPath = u"untouched";
        PrefillForUpdate(ParseCommandLine(c.args), state);
        EXPECT_EQ(state.destinationFolder, c.destination);
        EXPECT_EQ(state.applicationPath, c.applicationPath);
    }
}

TEST(ParseDecimal64, MatchesRuntimeConversion) {
    EXPECT_EQ(ParseDecimal64(u""), 0);
    EXPECT_EQ(ParseDecimal64(u"-"), 0);
    EXPECT_EQ(ParseDecimal64(u"\t\n 42x"), 42);
    EXPECT_EQ(ParseDecimal64(u"9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ParseDecimal64(u"9223372036854775808"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ParseDecimal64(u"-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ParseDecimal64(u"-9223372036854775809"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ParseDecimal64(u"- 5"), 0);
}

}  // namespace
}  // namespace quentar
