// What the Windows bodies share (Nt.h): the native calls that take a name
// relative to an open folder and change a file through its handle, taken
// from ntdll at run time, and the facts of a handle.

#include <QString>

#include <algorithm>
#include <limits>
#include <vector>

#include "common/win/Nt.h"

namespace zandrel::fs::win {

namespace {

// ntdll's calls that kernel32 does not offer with a folder to start from.
struct NtCalls {
    using CreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                            PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                            ULONG, PVOID, ULONG);
    using SetInformationCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS);
    using StatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);
    using QueryDirectoryCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                                PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                                PUNICODE_STRING, BOOLEAN);
    CreateFileCall createFile = nullptr;
    QueryDirectoryCall queryDirectory = nullptr;
    SetInformationCall setInformation = nullptr;
    StatusToErrorCall statusToError = nullptr;
};

template <typename Call>
Call Find(HMODULE module, const char* name) {
    // Through the one function type that converts to any other.
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

const NtCalls& Nt() {
    static const NtCalls calls = [] {
        NtCalls c;
        if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
            c.createFile = Find<NtCalls::CreateFileCall>(ntdll, "NtCreateFile");
            c.setInformation = Find<NtCalls::SetInformationCall>(ntdll, "NtSetInformationFile");
            c.statusToError = Find<NtCalls::StatusToErrorCall>(ntdll, "RtlNtStatusToDosError");
            c.queryDirectory = Find<NtCalls::QueryDirectoryCall>(ntdll, "NtQueryDirectoryFile");
        }
        return c;
    }();
    return calls;
}

constexpr NTSTATUS kFileIsADirectory = NTSTATUS(0xC00000BA);
constexpr NTSTATUS kDeletePending = NTSTATUS(0xC0000056);
constexpr NTSTATUS kInvalidInfoClass = NTSTATUS(0xC0000003);
constexpr NTSTATUS kInvalidParameter = NTSTATUS(0xC000000D);
constexpr NTSTATUS kNotSupported = NTSTATUS(0xC00000BB);

constexpr FILE_INFORMATION_CLASS kRenameInformation = FILE_INFORMATION_CLASS(10);
constexpr FILE_INFORMATION_CLASS kLinkInformation = FILE_INFORMATION_CLASS(11);
constexpr FILE_INFORMATION_CLASS kRenameInformationEx = FILE_INFORMATION_CLASS(65);
constexpr ULONG kRenameReplace = 0x1;  // FILE_RENAME_REPLACE_IF_EXISTS
constexpr ULONG kRenamePosix = 0x2;    // FILE_RENAME_POSIX_SEMANTICS

// FILE_DISPOSITION_INFO_EX and its flags, which older headers hide.
constexpr FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = FILE_INFO_BY_HANDLE_CLASS(21);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosix = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;
struct DispositionEx {
    ULONG flags;
};

// One entry of a folder: no separator, and no ":", which would name a
// stream of another file rather than a file.
bool SingleName(QByteArrayView name) {
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') && !name.contains(':') &&
           !name.contains('\0');
}

// Rename and link information share one layout: the flags (or the replace
// flag alone), the folder the name is relative to, the name.
int SetName(HANDLE handle, HANDLE dir, QByteArrayView name, FILE_INFORMATION_CLASS kind,
            ULONG flags) {
    if (!Nt().setInformation)
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!SingleName(name))
        return ERROR_INVALID_NAME;
    const std::wstring wide = Wide(name);
    const std::size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + wide.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes + sizeof(wchar_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->Flags = flags;
    info->RootDirectory = dir;
    info->FileNameLength = DWORD(wide.size() * sizeof(wchar_t));
    std::copy(wide.begin(), wide.end(), info->FileName);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = Nt().setInformation(handle, &io, info, ULONG(bytes), kind);
    return NT_SUCCESS(status) ? 0 : FromStatus(status);
}

}  // namespace

Handle DuplicateOf(HANDLE handle) {
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (handle == kNoHandle ||
        !::DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return Handle();
    return Handle(copy);
}

// ---------------------------------------------------------------------------
// Names and paths

std::wstring Wide(QByteArrayView utf8) {
    return QString::fromUtf8(utf8).toStdWString();
}

QByteArray Utf8(const wchar_t* text, std::size_t length) {
    return QString::fromWCharArray(text, qsizetype(length)).toUtf8();
}

std::wstring LongPath(const QByteArray& path) {
    std::wstring wide = Wide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.rfind(LR"(\\?\)", 0) == 0 || wide.rfind(LR"(\\.\)", 0) == 0)
        return wide;
    // Made whole first: the prefix turns off the system's own handling of
    // "." and ".." and of relative paths.
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr);
        if (n == 0)
            return wide;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);
    }
    if (full.rfind(LR"(\\)", 0) == 0)
        return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

std::wstring FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n + 1);
    }
}

// ---------------------------------------------------------------------------
// Errors

int Normalised(DWORD error) {
    if (error == ERROR_PATH_NOT_FOUND)
        return ERROR_FILE_NOT_FOUND;
    return int(error);
}

int LastError() {
    const int error = Normalised(::GetLastError());
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

int FromStatus(NTSTATUS status) {
    DWORD error;
    if (status == kFileIsADirectory)
        error = kErrorDirectoryNotSupported;  // the layer's kIsAFolder
    else if (status == kDeletePending)
        error = ERROR_FILE_NOT_FOUND;  // on its way out: as good as gone
    else
        error = Nt().statusToError ? Nt().statusToError(status) : ERROR_GEN_FAILURE;
    const int normalised = Normalised(error);
    // So that a result made after the call takes it, as after a kernel32 call.
    ::SetLastError(DWORD(normalised));
    return normalised;
}

// ---------------------------------------------------------------------------
// Opening relative to an open folder

HANDLE OpenAt(HANDLE dir, QByteArrayView name, const OpenRequest& request, int& error) {
    if (!Nt().createFile) {
        error = ERROR_CALL_NOT_IMPLEMENTED;
        ::SetLastError(DWORD(error));
        return kNoHandle;
    }
    std::wstring wide;
    if (name == "..") {
        // The parent by the folder's own path: the system has no relative
        // way up.
        std::wstring path = FinalPath(dir);
        if (path.empty()) {
            error = LastError();
            return kNoHandle;
        }
        // A drive's root ("\\?\C:\") is its own parent, as "/.." is on
        // POSIX, so that the ".." a search lists there is a folder as
        // everywhere else; its folders keep the root's separator.
        const std::size_t cut = path.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut < 6) {
            error = ERROR_FILE_NOT_FOUND;
            ::SetLastError(DWORD(error));
            return kNoHandle;
        }
        if (cut + 1 != path.size())
            path.resize(cut == 6 ? cut + 1 : cut);
        // \\?\ is the native \??\ as a path of its own.
        if (path.rfind(LR"(\\?\)", 0) == 0)
            path[1] = L'?';
        wide = path;
        dir = nullptr;
    } else if (name != ".") {
        if (!SingleName(name)) {
            error = ERROR_INVALID_NAME;
            ::SetLastError(DWORD(error));
            return kNoHandle;
        }
        wide = Wide(name);
    }
    if (wide.size() * sizeof(wchar_t) > 0xFFF0) {
        error = ERROR_FILENAME_EXCED_RANGE;
        ::SetLastError(DWORD(error));
        return kNoHandle;
    }
    UNICODE_STRING text;
    text.Buffer = wide.data();
    text.Length = USHORT(wide.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, dir, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status =
        Nt().createFile(&handle, request.access | SYNCHRONIZE, &object, &io, nullptr,
                        request.attributes, request.share, request.disposition,
                        request.options | kSynchronous | kOpenForBackup, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        error = FromStatus(status);
        return kNoHandle;
    }
    error = 0;
    return handle;
}

HANDLE OpenNoLink(HANDLE dir, QByteArrayView name, OpenRequest request, int& error) {
    request.options |= kNoReparse;
    HANDLE handle = OpenAt(dir, name, request, error);
    if (handle == kNoHandle)
        return handle;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsLinkTag(tag.ReparseTag))
        return handle;
    // Through the filter that owns it, and only while it is the same file.
    Stat first;
    request.options &= ~kNoReparse;
    HANDLE through = OpenAt(dir, name, request, error);
    Stat second;
    const bool same = through != kNoHandle && StatOf(handle, first) == 0 &&
                      StatOf(through, second) == 0 && IdentityOf(first) == IdentityOf(second);
    ::CloseHandle(handle);
    if (same)
        return through;
    if (through != kNoHandle) {
        ::CloseHandle(through);
        error = ERROR_FILE_INVALID;  // the layer's kReplaced
        ::SetLastError(DWORD(error));
    }
    return kNoHandle;
}

int ReadDirectory(HANDLE handle, void* buffer, ULONG size, bool restart) {
    if (!Nt().queryDirectory)
        return ERROR_CALL_NOT_IMPLEMENTED;
    constexpr FILE_INFORMATION_CLASS kFullDirectoryInformation = FILE_INFORMATION_CLASS(2);
    constexpr NTSTATUS kNoMoreFiles = NTSTATUS(0x80000006);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        Nt().queryDirectory(handle, nullptr, nullptr, nullptr, &io, buffer, size,
                            kFullDirectoryInformation, FALSE, nullptr, restart ? TRUE : FALSE);
    if (status == kNoMoreFiles)
        return ERROR_NO_MORE_FILES;
    return NT_SUCCESS(status) ? 0 : FromStatus(status);
}

// ---------------------------------------------------------------------------
// A handle's facts

int StatOf(HANDLE handle, Stat& st) {
    if (!::GetFileInformationByHandle(handle, &st.by) ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &st.basic, sizeof st.basic))
        return LastError();
    st.tag = 0;
    if (st.by.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        // One that cannot be told is taken for a link: never followed.
        st.tag = ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)
                     ? tag.ReparseTag
                     : IO_REPARSE_TAG_SYMLINK;
    }
    return 0;
}

bool IsLinkTag(DWORD tag) {
    // Symbolic links, junctions and the like stand for another name.
    return (tag & 0x20000000) != 0;
}

FileKind KindOf(const Stat& st) {
    const DWORD attributes = st.by.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(st.tag))
        return FileKind::Link;
    // Sockets, FIFOs and devices as a Linux subsystem leaves them.
    constexpr DWORD kUnixSocket = 0x80000023;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && st.tag >= kUnixSocket &&
        st.tag <= kUnixSocket + 3)
        return FileKind::Other;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return FileKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return FileKind::Other;
    return FileKind::File;
}

FileIdentity IdentityOf(const Stat& st) {
    return {quint64(st.by.dwVolumeSerialNumber),
            (quint64(st.by.nFileIndexHigh) << 32) | quint64(st.by.nFileIndexLow)};
}

FileInfo InfoOf(const Stat& st) {
    FileInfo info;
    info.kind = KindOf(st);
    info.size = info.kind == FileKind::Folder
                    ? 0
                    : qint64((quint64(st.by.nFileSizeHigh) << 32) | st.by.nFileSizeLow);
    info.modifiedNs = Nanoseconds(st.basic.LastWriteTime);
    constexpr qint64 kSecond = 1000000000;
    info.modified = info.modifiedNs >= 0 ? info.modifiedNs / kSecond
                                         : -((-info.modifiedNs + kSecond - 1) / kSecond);
    info.changedNs = Nanoseconds(st.basic.ChangeTime);
    // The read-only attribute is the one permission a file carries by itself.
    const bool readOnly = (st.by.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    const bool folder = info.kind == FileKind::Folder;
    info.permissions = folder ? 0777u : readOnly ? 0444u : 0666u;
    info.ownerWritable = folder || !readOnly;
    info.identity = IdentityOf(st);
    return info;
}

FileInfo NotExamined(int error) {
    FileInfo info;
    info.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                        error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME
                    ? FileKind::Missing
                    : FileKind::Unknown;
    info.error = error;
    return info;
}

namespace {
// 1601 to 1970 in the system's 100 ns steps.
constexpr qint64 kEpochDifference = 116444736000000000LL;
// The times the layer's nanoseconds can hold (the years 1678 to 2262).
constexpr qint64 kLimit = (std::numeric_limits<qint64>::max)() / 100;
}  // namespace

qint64 Nanoseconds(const LARGE_INTEGER& time) {
    const qint64 steps = std::clamp(time.QuadPart - kEpochDifference, -kLimit, kLimit);
    return steps * 100;
}

qint64 Nanoseconds(const FILETIME& time) {
    LARGE_INTEGER t;
    t.LowPart = time.dwLowDateTime;
    t.HighPart = LONG(time.dwHighDateTime);
    return Nanoseconds(t);
}

LARGE_INTEGER FileTime(qint64 ns) {
    // Rounded down, so that a time before 1970 stays before it.
    const qint64 steps = ns >= 0 ? ns / 100 : -((-ns + 99) / 100);
    LARGE_INTEGER t;
    t.QuadPart = steps + kEpochDifference;
    return t;
}

// ---------------------------------------------------------------------------
// Changes by handle

int RenameByHandle(HANDLE handle, HANDLE dir, QByteArrayView name, bool replace) {
    if (!replace)
        return SetName(handle, dir, name, kRenameInformation, 0);
    // A file replaced while others hold it open (shared for deleting) goes
    // with POSIX semantics; older systems and other file systems have none.
    const int error =
        SetName(handle, dir, name, kRenameInformationEx, kRenameReplace | kRenamePosix);
    if (error == 0 || (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION &&
                       error != ERROR_NOT_SUPPORTED && error != ERROR_CALL_NOT_IMPLEMENTED))
        return error;
    return SetName(handle, dir, name, kRenameInformation, TRUE);
}

int LinkByHandle(HANDLE handle, HANDLE dir, QByteArrayView name) {
    return SetName(handle, dir, name, kLinkInformation, 0);
}

int DeleteByHandle(HANDLE handle) {
    DispositionEx ex{kDispositionDelete | kDispositionPosix | kDispositionIgnoreReadOnly};
    if (::SetFileInformationByHandle(handle, kDispositionInfoEx, &ex, sizeof ex))
        return 0;
    int error = LastError();
    if (error == ERROR_DIR_NOT_EMPTY || error == ERROR_SHARING_VIOLATION)
        return error;
    // Before Windows 10 1809, on FAT and on shares: the name goes when the
    // last handle closes, and a read-only file must lose the attribute first.
    FILE_DISPOSITION_INFO plain{TRUE};
    if (::SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof plain))
        return 0;
    error = LastError();
    FILE_BASIC_INFO basic{};
    if (error != ERROR_ACCESS_DENIED ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return error;
    const DWORD before = basic.FileAttributes;
    if (SetAttributes(handle, before & ~DWORD(FILE_ATTRIBUTE_READONLY)) != 0)
        return error;
    if (::SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof plain))
        return 0;
    error = LastError();
    SetAttributes(handle, before);
    return error;
}

int SetAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // times of 0 are left as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) ? 0
                                                                                     : LastError();
}

}  // namespace zandrel::fs::win
