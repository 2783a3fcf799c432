#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <QString>
#include <memory>

#include "common/Console.h"

namespace zandrel {

namespace {

struct LocalFreer {
    void operator()(LPWSTR* p) const { ::LocalFree(p); }
};

}  // namespace

QStringList ProgramArguments(int, const char* const*) {
    int count = 0;
    const std::unique_ptr<LPWSTR[], LocalFreer> arguments(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    QStringList list;
    for (int i = 1; arguments && i < count; ++i) list.append(QString::fromWCharArray(arguments[i]));
    return list;
}

void WriteText(std::FILE* stream, QByteArrayView text) {
    const HANDLE handle = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle && ::GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = QString::fromUtf8(text).toStdWString();
        DWORD written = 0;
        for (size_t at = 0; at < wide.size(); at += written) {
            if (!::WriteConsoleW(handle, wide.data() + at, DWORD(wide.size() - at), &written,
                                 nullptr) ||
                written == 0)
                break;
        }
        return;
    }
    std::fwrite(text.data(), 1, static_cast<size_t>(text.size()), stream);
    std::fflush(stream);
}

bool DesktopShowsWindows() {
    USEROBJECTFLAGS flags{};
    DWORD size = 0;
    if (::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                    &size) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    // Wine shows its windows on the host's display and, without one, on an
    // invisible desktop that looks like any other; it passes the host's
    // environment through.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll && ::GetProcAddress(ntdll, "wine_get_version"))
        return !qEnvironmentVariableIsEmpty("DISPLAY") ||
               !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return true;
}

}  // namespace zandrel
