#include "install/engine_support.h"

#include <algorithm>
#include <string>

#include "platform/module_text.h"
#include "state/resource_ids.h"

namespace quentar {

U16String DescribeError(DWORD error) {
    U16String line = u"error " + DecimalText(error);
    const U16String text = SystemErrorText(error);
    if (!text.empty()) line += u" (" + text + u")";
    return line;
}

U16String DecimalText(uint64_t value) { return FromUtf8(std::to_string(value)); }

void ReportCreateFileFailure(const U16String& path, DWORD error, InstallFeedback& feedback) {
    feedback.Log(u"cannot write " + path + u": " + DescribeError(error));
    const U16String text =
        FormatPositional(LoadStringResource(IDS_CREATE_FILE_FAILED), {path, SystemErrorText(error)});
    feedback.Message(text, MB_OK | MB_ICONHAND);
}

bool ContainsIgnoreAsciiCase(const StringList& list, U16View item) {
    return std::any_of(list.begin(), list.end(), [&](const U16String& e) { return EqualsIgnoreAsciiCase(e, item); });
}

bool RemoveIgnoreAsciiCase(StringList& list, U16View item) {
    const auto end = std::remove_if(list.begin(), list.end(),
                                    [&](const U16String& e) { return EqualsIgnoreAsciiCase(e, item); });
    const bool removed = end != list.end();
    list.erase(end, list.end());
    return removed;
}

}  // namespace quentar
