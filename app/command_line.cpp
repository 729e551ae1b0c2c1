#include "app/command_line.h"

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

UpdateArguments ParseCommandLine(const std::vector<U16String>& argv) {
    UpdateArguments args;
    for (size_t i = 1; i < argv.size(); ++i) {
        const U16String& s = argv[i];
        if (s.empty()) continue;
        const size_t colon = s.find(u':');
        if (colon == U16String::npos || colon == 0) continue;

        const U16String key = ToAsciiLower(U16View(s).substr(0, colon));
        // Blanks first, then double quotes, so that "  \"1234\" " reads 1234.
        const U16String value = TrimChar(Trim(U16View(s).substr(colon + 1)), u'"');

        if (key == u"/update") {
            args.updateMode = true;
        } else if (key == u"/wh") {
            args.updateWindow = static_cast<uint32_t>(static_cast<uint64_t>(ParseDecimal64(value)));
        } else if (key == u"/exe") {
            args.updateExePath = value;
            const size_t slash = value.rfind(u'\\');
            if (slash != U16String::npos && slash >= 1) args.updateExeFolder = value.substr(0, slash);
        }
    }
    return args;
}

void PrefillForUpdate(const UpdateArguments& args, InstallState& state) {
    if (!args.updateMode) return;
    state.destinationFolder = args.updateExeFolder;
    state.applicationPath = args.updateExePath + u".tmp";
}

}  // namespace quentar
