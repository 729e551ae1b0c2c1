#include "install/earlier_files.h"

#include <vector>

#include "install/engine_support.h"
#include "install/file_install.h"
#include "install/uninstall_record.h"

namespace quentar {
void TakeBackEarlierFiles(InstallState& state, InstallFeedback& feedback) {
    const std::vector<InstallationRecord> records = RecordsOfFolder(state.destinationFolder);
    if (records.empty()) return;
    feedback.Log(u"step: what the earlier installation of " + state.destinationFolder + u" has and this one has not");
    StringList seen;  // each file once, also when two records list it
    for (const InstallationRecord& record : records) {
        for (const U16String& file : record.files) {
            // A record written by this program lists only full paths, which
            // name the same file whatever the current folder (IsFullPath).
            if (!IsFullPath(file) || ContainsIgnoreAsciiCase(state.installedFiles, file) || !AddUnique(seen, file)) {
                continue;
            }
            // A failure has been logged; the file then stays outside the
            // new record, as it was before this step existed.
            if (MoveAsideExisting(state, file, feedback)) state.takenBackFiles.push_back(file);
        }
    }
}

}  // namespace quentar
