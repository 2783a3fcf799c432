// The user's home on Windows: USERPROFILE, or else the profile folder the
// system keeps for the user this process runs as.

#include <windows.h>

#include <cstdlib>
#include <iterator>

#include <QtGlobal>

#include "common/UserHome.h"

namespace zandrel {

void TakeHomeFromUserDatabase() {
    if (!qEnvironmentVariableIsEmpty("USERPROFILE"))
        return;
    // userenv is loaded here only, so that nothing else needs it.
    using ProfileCall = BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD);
    const HMODULE userenv = ::LoadLibraryW(L"userenv.dll");
    if (!userenv)
        return;
    const auto profile = reinterpret_cast<ProfileCall>(
        reinterpret_cast<void (*)()>(::GetProcAddress(userenv, "GetUserProfileDirectoryW")));
    HANDLE token = nullptr;
    wchar_t path[32768] = {};
    DWORD size = DWORD(std::size(path));
    if (profile && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (profile(token, path, &size) && path[0] != L'\0')
            _wputenv_s(L"USERPROFILE", path);  // the C library's copy and the process's
        ::CloseHandle(token);
    }
    ::FreeLibrary(userenv);
}

}  // namespace zandrel
