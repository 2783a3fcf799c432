// The step in which a folder's file system keeps modification times on
// Windows, known from the file system's name.

#include <cwchar>

#include "common/FileSystem.h"
#include "common/win/Nt.h"

namespace zandrel::fs {

qint64 TimeResolution(const Folder& folder) {
    constexpr qint64 kSecond = 1000000000;
    if (!folder.valid() || folder.isVirtual())
        return 1;
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(folder.handle().native(), nullptr, 0, nullptr, nullptr,
                                         nullptr, name, MAX_PATH + 1))
        return 2 * kSecond;
    if (std::wcscmp(name, L"NTFS") == 0 || std::wcscmp(name, L"ReFS") == 0)
        return 100;
    // exFAT keeps hundredths where Windows writes them and whole seconds
    // where other systems do: the coarser step holds for both.
    if (std::wcscmp(name, L"exFAT") == 0)
        return kSecond;
    // FAT, and file systems that tell nothing of theirs (shares) may keep
    // as little as FAT does.
    return 2 * kSecond;
}

}  // namespace zandrel::fs
