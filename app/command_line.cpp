#include "app/command_line.h"

#include <algorithm>
#include <limits>
#include <string>

namespace quentar {

int64_t ParseDecimal64(U16View text) {
    size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate the magnitude as unsigned so the most negative value fits.
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    const uint64_t limit = negative ? kMaxPositive + 1 : kMaxPositive;
    uint64_t magnitude = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
        if (saturated || magnitude > (limit - digit) / 10) {
            saturated = true;
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (saturated) magnitude = limit;
    if (!negative) return static_cast<int64_t>(magnitude);
    return magnitude == kMaxPositive + 1 ? std::numeric_limits<int64_t>::min()
                                         : -static_cast<int64_t>(magnitude);
}

namespace {

// Other installers' switches for a run without a window, which deployment
// tools pass to any setup program: they mean "/quiet" here.
bool IsQuietAlias(U16View key) {
    return key == u"/s" || key == u"/silent" || key == u"/verysilent" || key == u"/qn" || key == u"/q";
}

// The switches that are also taken without a colon.
bool IsSwitch(U16View key) { return key == u"/quiet" || key == u"/nodesktop" || key == u"/norestart"; }

// Keys whose value is a path. A path never holds a double quote, so one in
// the value ends it: it is what the runtime leaves of a quoted value that
// ends with a backslash ("C:\Q\" becomes C:\Q" and takes the rest of the
// command line with it).
bool IsPathKey(U16View key) { return key == u"/dir" || key == u"/log"; }

// One argument split into its key (lower-cased) and value; false when it is
// no argument at all. For a path key, what follows a double quote inside the
// value goes to `rest`, to be read as further arguments.
bool SplitArgument(U16View s, U16String& key, U16String& value, U16String& rest) {
    rest.clear();
    if (s.empty()) return false;
    const size_t colon = s.find(u':');
    if (colon == 0) return false;
    key = ToAsciiLower(s.substr(0, colon));  // npos: the whole argument
    if (IsQuietAlias(key)) key = u"/quiet";
    if (colon == U16String::npos) {
        value.clear();
        return IsSwitch(key);
    }
    // Blanks first, then double quotes, so that "  \"1234\" " reads 1234.
    value = TrimChar(Trim(s.substr(colon + 1)), u'"');
    if (IsPathKey(key)) {
        const size_t quote = value.find(u'"');
        if (quote != U16String::npos) {
            rest = value.substr(quote + 1);
            value = Trim(U16View(value).substr(0, quote));
        }
    }
    return true;
}

// The words of `text` separated by white space.
StringList Words(U16View text) {
    StringList words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsWhiteSpace(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !IsWhiteSpace(text[i])) ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

// Applies one key and its value.
void ApplyArgument(const U16String& key, const U16String& value, CommandLine& line) {
    UpdateArguments& args = line.update;
    SetupOptions& options = line.options;
    if (key == u"/update") {
        args.updateMode = true;
    } else if (key == u"/wh") {
        args.updateWindow = static_cast<uint32_t>(static_cast<uint64_t>(ParseDecimal64(value)));
    } else if (key == u"/exe") {
        args.updateExePath = value;
        const size_t slash = value.rfind(u'\\');
        if (slash != U16String::npos && slash >= 1) args.updateExeFolder = value.substr(0, slash);
    } else if (key == u"/quiet") {
        options.quiet = true;
    } else if (key == u"/dir") {
        options.directoryGiven = true;
        options.directory = value;
        // "C:\Apps\Quentar\" names the folder "C:\Apps\Quentar"; the root
        // of a full path ("C:\", "\\?\C:\") keeps its backslash.
        const size_t root = std::max<size_t>(FullPathRootLength(options.directory), 1);
        while (options.directory.size() > root && options.directory.back() == u'\\') options.directory.pop_back();
    } else if (key == u"/components") {
        options.componentsGiven = true;
        options.components = value;
    } else if (key == u"/nodesktop") {
        options.noDesktop = true;
    } else if (key == u"/norestart") {
        options.noRestart = true;
    } else if (key == u"/log") {
        options.logFile = value;
    } else if (key == u"/packagetimeout") {
        options.packageTimeoutGiven = true;
        options.packageTimeout = value;
    }
}

}  // namespace

CommandLine ParseSetupCommandLine(const std::vector<U16String>& argv) {
    CommandLine line;
    // Arguments still to read, the next one last: what a quote cut off a
    // value is read before the arguments after it.
    StringList pending(argv.rbegin(), argv.rend());
    if (!pending.empty()) pending.pop_back();  // argv[0], the program
    while (!pending.empty()) {
        const U16String s = std::move(pending.back());
        pending.pop_back();
        U16String key, value, rest;
        if (!SplitArgument(s, key, value, rest)) continue;
        ApplyArgument(key, value, line);
        const StringList more = Words(rest);
        pending.insert(pending.end(), more.rbegin(), more.rend());
    }
    return line;
}

namespace {

// A value as the log shows it: in double quotes when it is empty or holds
// white space.
U16String LogValue(const U16String& value) {
    const bool blank = value.empty() || std::any_of(value.begin(), value.end(), IsWhiteSpace);
    return blank ? u"\"" + value + u"\"" : value;
}

}  // namespace

U16String DescribeCommandLine(const CommandLine& line) {
    const UpdateArguments& args = line.update;
    const SetupOptions& options = line.options;
    StringList parts;
    if (args.updateMode) parts.push_back(u"/update:");
    if (args.updateWindow != 0) parts.push_back(u"/wh:" + FromUtf8(std::to_string(args.updateWindow)));
    if (!args.updateExePath.empty()) parts.push_back(u"/exe:" + LogValue(args.updateExePath));
    if (options.quiet) parts.push_back(u"/quiet");
    if (options.directoryGiven) parts.push_back(u"/dir:" + LogValue(options.directory));
    if (options.componentsGiven) parts.push_back(u"/components:" + LogValue(options.components));
    if (options.noDesktop) parts.push_back(u"/nodesktop");
    if (options.noRestart) parts.push_back(u"/norestart");
    if (options.packageTimeoutGiven) parts.push_back(u"/packagetimeout:" + LogValue(options.packageTimeout));
    if (!options.logFile.empty()) parts.push_back(u"/log:" + LogValue(options.logFile));
    if (parts.empty()) return u"none";
    U16String text;
    for (const U16String& part : parts) text += (text.empty() ? u"" : u" ") + part;
    return text;
}

UpdateArguments ParseCommandLine(const std::vector<U16String>& argv) { return ParseSetupCommandLine(argv).update; }

void PrefillForUpdate(const UpdateArguments& args, InstallState& state) {
    if (!args.updateMode) return;
    state.destinationFolder = args.updateExeFolder;
    state.applicationPath = args.updateExePath + u".tmp";
}

bool ParsePackageTimeout(U16View text, uint32_t& minutes) {
    minutes = 0;
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
        // Stops before the value could outgrow its type.
        if (value > kMaxPackageTimeoutMinutes) return false;
    }
    if (value == 0) return false;
    minutes = static_cast<uint32_t>(value);
    return true;
}

bool ParseComponentList(U16View list, ComponentChoice& choice, U16String& problem) {
    constexpr char16_t kKnown[] = u" (known: app, arecont, axis)";
    choice = ComponentChoice{};
    problem.clear();
    if (Trim(list).empty()) {
        problem = U16String(u"no component named") + kKnown;
        return false;
    }
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(u',', start), list.size());
        const U16String item = Trim(list.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) {
            // A comma with nothing after it is how "app, arecont" arrives:
            // the blank ends the argument, and the names after it are lost.
            problem = U16String(u"empty component name in \"") + U16String(list) +
                      u"\" (write the names without blanks, e.g. app,arecont)";
            return false;
        }
        const U16String name = ToAsciiLower(item);
        if (name == u"app") {
            choice.application = true;
        } else if (name == u"arecont") {
            choice.arecont = true;
        } else if (name == u"axis") {
            choice.axis = true;
        } else {
            problem = u"unknown component \"" + item + u"\"" + kKnown;
            return false;
        }
    }
    if (choice.arecont && !choice.application) {
        problem = u"arecont is installed with app only";
        return false;
    }
    return true;
}

}  // namespace quentar
