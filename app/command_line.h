// The command line of the setup program, every argument written as key,
// colon, value: "/update", "/wh" and "/exe" ask for the in-place update;
// "/quiet" asks for an installation without any window, with the options
// "/dir", "/components", "/nodesktop", "/norestart", "/packagetimeout"; "/log"
// names the log of the run. Anything else is ignored; malformed arguments are
// never errors.
#pragma once

#include <cstdint>
#include <vector>

#include "state/install_state.h"
#include "state/text.h"
#include "state/update_arguments.h"

namespace quentar {

// What the command line asks of a run beside the update fields. Every option
// but logFile takes effect with "/quiet" only; the wizard ignores them.
struct SetupOptions {
    bool quiet = false;            // "/quiet": no window, no message box
    bool directoryGiven = false;   // "/dir:" was given ...
    U16String directory;           // ... with this destination folder, without
                                   // trailing backslashes beyond its root
    bool componentsGiven = false;  // "/components:" was given ...
    U16String components;          // ... with this list (ParseComponentList)
    bool noDesktop = false;        // "/nodesktop": no desktop shortcut
    bool noRestart = false;        // "/norestart": Windows is never restarted
    bool packageTimeoutGiven = false;  // "/packagetimeout:" was given ...
    U16String packageTimeout;          // ... with this value (ParsePackageTimeout)
    U16String logFile;             // "/log:" value; empty: the default log
};

struct CommandLine {
    UpdateArguments update;
    SetupOptions options;
};

// Reads the arguments after argv[0] (already split and unquoted by the
// runtime). Each argument is split at its first colon into a key, lower-cased
// (A-Z only), and a value, trimmed of blanks and then of double quotes; an
// argument without a colon, or with the colon first, is ignored. A key given
// twice applies again from the later value.
// The switches "/quiet", "/nodesktop" and "/norestart" are also taken without
// a colon, as deployment tools write them; their value is not used. The other
// keys keep the rule above ("/update" without a colon is ignored). "/s",
// "/silent", "/verysilent", "/qn" and "/q", other installers' switches for a
// run without a window, mean "/quiet".
// A double quote inside the value of "/dir" or "/log" ends the value (a path
// never holds one): the runtime reads "C:\Q\" as C:\Q" followed by the rest
// of the command line. What follows the quote is split at white space and
// read as further arguments, before the next one.
CommandLine ParseSetupCommandLine(const std::vector<U16String>& argv);

// The command line as this program understood it, for the log: the keys it
// acts on, in a fixed order, with their values as read ("/quiet
// /dir:C:\Q /components:app /nodesktop"); "none" when there is none.
U16String DescribeCommandLine(const CommandLine& line);

// The update fields of ParseSetupCommandLine.
UpdateArguments ParseCommandLine(const std::vector<U16String>& argv);

// Update mode only: the installation goes into the folder of the executable
// being replaced, and the new executable is first written next to it with
// ".tmp" appended. Outside update mode the state is left alone.
void PrefillForUpdate(const UpdateArguments& args, InstallState& state);

// The value read as a signed 64-bit decimal number the way the C runtime's
// wide strtoll reads it: leading white space skipped, optional sign, digits up
// to the first non-digit, 0 without digits, saturating on overflow.
int64_t ParseDecimal64(U16View text);

// The longest wait for one runtime package that "/packagetimeout:" may ask
// for, in minutes: the wait is measured with the tick count, whose
// differences wrap after 2^32 milliseconds (about 49.7 days).
inline constexpr uint32_t kMaxPackageTimeoutMinutes = 71582;

// Reads the minutes of "/packagetimeout:": decimal digits only, 1 to
// kMaxPackageTimeoutMinutes. False for anything else (empty, 0, a sign, a
// fraction, too many).
bool ParsePackageTimeout(U16View text, uint32_t& minutes);

// The components of "/components:", as the welcome page's boxes name them.
struct ComponentChoice {
    bool application = false;  // "app": Quentar itself
    bool arecont = false;      // "arecont": the Arecont Vision runtime (AV2000SDK.dll)
    bool axis = false;         // "axis": the Axis runtime packages
};

// Reads a list such as "app,arecont,axis": names separated by commas, each
// trimmed of blanks, compared without regard to the case of A-Z, in any
// order; repeats are allowed. False, with `problem` saying why, for an
// unknown name, an empty name ("app," is what the runtime leaves of
// "app, arecont"), a list naming no component, and "arecont" without "app"
// (the runtime is installed beside the application only).
bool ParseComponentList(U16View list, ComponentChoice& choice, U16String& problem);

}  // namespace quentar
