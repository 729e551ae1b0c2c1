#include "app/command_line.h"

#include <algorithm>
#include <limits>

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

// The switches that are also taken without a colon.
bool IsSwitch(U16View key) { return key == u"/quiet" || key == u"/nodesktop" || key == u"/norestart"; }

}  // namespace

CommandLine ParseSetupCommandLine(const std::vector<U16String>& argv) {
    CommandLine line;
    UpdateArguments& args = line.update;
    SetupOptions& options = line.options;
    for (size_t i = 1; i < argv.size(); ++i) {
        const U16String& s = argv[i];
        if (s.empty()) continue;
        const size_t colon = s.find(u':');
        if (colon == 0) continue;

        const U16String key = ToAsciiLower(U16View(s).substr(0, colon));  // npos: the whole argument
        if (colon == U16String::npos && !IsSwitch(key)) continue;
        // Blanks first, then double quotes, so that "  \"1234\" " reads 1234.
        const U16String value =
            colon == U16String::npos ? U16String() : TrimChar(Trim(U16View(s).substr(colon + 1)), u'"');

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
            // "C:\Apps\Quentar\" names the folder "C:\Apps\Quentar"; a
            // drive root ("C:\", three characters) keeps its backslash.
            while (options.directory.size() > 3 && options.directory.back() == u'\\') options.directory.pop_back();
        } else if (key == u"/components") {
            options.componentsGiven = true;
            options.components = value;
        } else if (key == u"/nodesktop") {
            options.noDesktop = true;
        } else if (key == u"/norestart") {
            options.noRestart = true;
        } else if (key == u"/log") {
            options.logFile = value;
        }
    }
    return line;
}

UpdateArguments ParseCommandLine(const std::vector<U16String>& argv) { return ParseSetupCommandLine(argv).update; }

void PrefillForUpdate(const UpdateArguments& args, InstallState& state) {
    if (!args.updateMode) return;
    state.destinationFolder = args.updateExeFolder;
    state.applicationPath = args.updateExePath + u".tmp";
}

bool ParseComponentList(U16View list, ComponentChoice& choice, U16String& problem) {
    constexpr char16_t kKnown[] = u" (known: app, arecont, axis)";
    choice = ComponentChoice{};
    problem.clear();
    bool any = false;
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(u',', start), list.size());
        const U16String item = Trim(list.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) continue;
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
        any = true;
    }
    if (!any) {
        problem = U16String(u"no component named") + kKnown;
        return false;
    }
    if (choice.arecont && !choice.application) {
        problem = u"arecont is installed with app only";
        return false;
    }
    return true;
}

}  // namespace quentar
