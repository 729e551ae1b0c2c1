// Starting a program as the signed-in user rather than as the setup program:
// the setup program runs elevated (with an administrator's full token, or as
// SYSTEM when a deployment tool starts it), and a program it starts would
// inherit that. The installed application is started with a token of the
// user's own instead, or not at all; never with the system account's.
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"
#include "state/text.h"

namespace quentar {

// A primary token of a user, and whose it is (or, when there is none, why),
// for the log.
struct UserToken {
    UniqueHandle token;
    U16String whose;
};

// The token of the signed-in user's shell: that of the process of
// GetShellWindow() or, when there is no shell window, of the explorer.exe
// process of this process's session.
UserToken ShellUserToken();

// The token of `process` (open with at least
// PROCESS_QUERY_LIMITED_INFORMATION), duplicated as a primary token; `whose`
// names the process for the log. Empty, with the reason in `whose`, when it
// cannot be had or belongs to a service account (SYSTEM, LOCAL SERVICE,
// NETWORK SERVICE).
UserToken ProcessUserToken(HANDLE process, const U16String& whose);

// Starts `path` in `directory` with `token`: no arguments, handles not
// inherited, the token's user's environment, on the interactive desktop
// ("winsta0\default") of the token's session, not waited for.
// CreateProcessAsUserW, which needs a privilege that only the system account
// holds by default; without it, CreateProcessWithTokenW. 0 or the system's
// error.
DWORD StartProgramAs(HANDLE token, const U16String& path, const U16String& directory);

}  // namespace quentar
