// The application object: prepares the process, reads the command line,
// runs the wizard and starts the installed application afterwards. It is also
// the last stop of fatal errors.
#pragma once

#include <exception>
#include <vector>

#include "app/command_line.h"
#include "state/install_state.h"
#include "platform/framework/win_app.h"

namespace quentar {

// The update fields (updateMode, updateExePath, updateExeFolder,
// updateWindow) are the application object's own, set only by the
// command-line parser; the sheet reads them through the same object.
class CSetupApp : public CWinApp, public UpdateArguments {
public:
    BOOL InitInstance() override;

    // Shows a fatal error in a box captioned "Error" and ends the process
    // with exit code 2, at once.
    void OnUncaughtException(std::exception_ptr error) override;

private:
    UpdateArguments& Arguments() { return *this; }
};

// The message of a fatal error: string-table entry (code - 777) of a numeric
// error (empty when there is none), the text of a text error.
U16String FatalMessage(std::exception_ptr error);

// The runtime's wide argument vector as UTF-16 strings (argv[0] included).
std::vector<U16String> RuntimeArguments();

// Starts `runPath` in `runDirectory` the way the wizard's end does; on
// failure tells the user with the system's reason. Returns whether it started.
bool StartInstalledApplication(const U16String& runPath, const U16String& runDirectory);

// The end of the run: starts the installed application when the finish page
// asked for it and its path is known.
void StartApplicationAfterWizard(const InstallState& state);

}  // namespace quentar
