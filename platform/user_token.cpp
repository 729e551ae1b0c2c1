#include "platform/user_token.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

constexpr char16_t kExplorerName[] = u"explorer.exe";

// What a primary token for starting a program needs.
constexpr DWORD kPrimaryAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

U16String Number(DWORD value) { return FromUtf8(std::to_string(value)); }

U16String ErrorText(DWORD error) { return u"error " + Number(error); }

// The explorer.exe process of this process's session; 0 when there is none.
DWORD ExplorerOfThisSession() {
    DWORD session = 0;
    if (!Sys().ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return 0;
    UniqueFile snapshot(Sys().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Sys().Process32FirstW(snapshot.get(), &entry); more;
         more = Sys().Process32NextW(snapshot.get(), &entry)) {
        DWORD itsSession = 0;
        if (EqualsIgnoreAsciiCase(FromWide(entry.szExeFile), kExplorerName) &&
            Sys().ProcessIdToSessionId(entry.th32ProcessID, &itsSession) && itsSession == session) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

// Whether `token` is a service account's (or cannot tell whose it is).
bool ServiceAccount(HANDLE token) {
    DWORD needed = 0;
    Sys().GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed == 0) return true;
    std::vector<uint8_t> buffer(needed);
    if (!Sys().GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) return true;
    const PSID user = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    return ::IsWellKnownSid(user, WinLocalSystemSid) || ::IsWellKnownSid(user, WinLocalServiceSid) ||
           ::IsWellKnownSid(user, WinNetworkServiceSid);
}

// The user's environment block for `token`, destroyed with this object;
// null when it cannot be made (the program then gets the caller's).
class UserEnvironment {
public:
    explicit UserEnvironment(HANDLE token) {
        if (!Sys().CreateEnvironmentBlock(&block_, token, FALSE)) block_ = nullptr;
    }
    ~UserEnvironment() {
        if (block_ != nullptr) Sys().DestroyEnvironmentBlock(block_);
    }
    UserEnvironment(const UserEnvironment&) = delete;
    UserEnvironment& operator=(const UserEnvironment&) = delete;

    LPVOID Block() const { return block_; }
    DWORD CreationFlags() const { return block_ != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0; }

private:
    LPVOID block_ = nullptr;
};

}  // namespace

UserToken ShellUserToken() {
    DWORD id = 0;
    U16String whose;
    if (const HWND shell = Sys().GetShellWindow()) {
        Sys().GetWindowThreadProcessId(shell, &id);
        whose = u"the shell window's process ";
    }
    if (id == 0) {
        id = ExplorerOfThisSession();
        whose = u"the explorer.exe of this session, process ";
    }
    if (id == 0) return {UniqueHandle(), u"there is no shell window and no explorer.exe in this session"};
    whose += Number(id);
    const UniqueHandle process(Sys().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process) return {UniqueHandle(), whose + u" cannot be opened: " + ErrorText(::GetLastError())};
    return ProcessUserToken(process.get(), whose);
}

UserToken ProcessUserToken(HANDLE process, const U16String& whose) {
    UniqueHandle token;
    if (!Sys().OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, token.put())) {
        return {UniqueHandle(), u"the token of " + whose + u" cannot be opened: " + ErrorText(::GetLastError())};
    }
    UniqueHandle primary;
    if (!Sys().DuplicateTokenEx(token.get(), kPrimaryAccess, nullptr, SecurityImpersonation, TokenPrimary,
                                primary.put())) {
        return {UniqueHandle(), u"the token of " + whose + u" cannot be copied: " + ErrorText(::GetLastError())};
    }
    if (ServiceAccount(primary.get())) return {UniqueHandle(), whose + u" runs as a service account"};
    return {std::move(primary), whose};
}

DWORD StartProgramAs(HANDLE token, const U16String& path, const U16String& directory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // The user's own desktop, also from a service's session.
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION info{};
    wchar_t commandLine[1] = {L'\0'};
    const UserEnvironment environment(token);
    BOOL started = Sys().CreateProcessAsUserW(token, AsWide(path), commandLine, nullptr, nullptr, FALSE,
                                              environment.CreationFlags(), environment.Block(), AsWide(directory),
                                              &startup, &info);
    DWORD error = started ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_FUNCTION);
    if (!started && error == ERROR_PRIVILEGE_NOT_HELD) {
        // An administrator: the secondary logon service starts it instead.
        started = Sys().CreateProcessWithTokenW(token, 0, AsWide(path), commandLine, environment.CreationFlags(),
                                                environment.Block(), AsWide(directory), &startup, &info);
        error = started ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_FUNCTION);
    }
    if (!started) return error;
    // The program is not waited for; its handles are not needed.
    const UniqueHandle processHandle(info.hProcess);
    const UniqueHandle threadHandle(info.hThread);
    return ERROR_SUCCESS;
}

}  // namespace quentar
