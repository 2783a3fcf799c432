#pragma once
// What the Windows bodies of the file layer share: names and paths as the
// system takes them, files opened relative to an open folder without
// following a reparse point, a handle's facts as the layer tells them, and
// the system's errors as the layer carries them.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, whose types they use.
#include <winioctl.h>
#include <winternl.h>
// The layer has a DeleteFile of its own (Disk.h), which the macro would
// rename where windows.h comes first.
#undef DeleteFile

#include <QByteArray>
#include <QByteArrayView>

#include <string>

#include "common/FileSystem.h"

namespace zandrel::fs::win {

// ---------------------------------------------------------------------------
// Names and paths

// UTF-8 bytes, as the layer carries names, and the system's UTF-16.
std::wstring Wide(QByteArrayView utf8);
QByteArray Utf8(const wchar_t* text, std::size_t length);

// A path as the system takes it whatever its length: made absolute and
// prefixed with \\?\ (\\?\UNC\ for a share), "/" read as "\".
std::wstring LongPath(const QByteArray& path);

// The path of what handle holds as it is now ("\\?\C:\..."); empty, with
// the last error set, when it has none.
std::wstring FinalPath(HANDLE handle);

// ---------------------------------------------------------------------------
// Errors

// Errors that older headers lack.
inline constexpr DWORD kErrorDirectoryNotSupported = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED
inline constexpr DWORD kErrorStoppedOnSymlink = 681;       // ERROR_STOPPED_ON_SYMLINK

// The system's error as the layer carries it: a missing folder on the way is
// a missing file, as for the neutral code they are one thing.
int Normalised(DWORD error);
int LastError();
// Another handle to what handle holds; not valid when none could be had.
Handle DuplicateOf(HANDLE handle);
int FromStatus(NTSTATUS status);

// ---------------------------------------------------------------------------
// Opening relative to an open folder

// The native open's options and dispositions (ntifs.h's, which the user-mode
// headers lack in part).
inline constexpr ULONG kOpenForBackup = 0x00004000;   // FILE_OPEN_FOR_BACKUP_INTENT
inline constexpr ULONG kSequentialOnly = 0x00000004;  // FILE_SEQUENTIAL_ONLY
inline constexpr ULONG kNonDirectory = 0x00000040;    // FILE_NON_DIRECTORY_FILE
inline constexpr ULONG kDirectory = 0x00000001;       // FILE_DIRECTORY_FILE
inline constexpr ULONG kSynchronous = 0x00000020;     // FILE_SYNCHRONOUS_IO_NONALERT
inline constexpr ULONG kNoReparse = 0x00200000;       // FILE_OPEN_REPARSE_POINT
inline constexpr ULONG kOpen = 1;                     // FILE_OPEN
inline constexpr ULONG kCreate = 2;                   // FILE_CREATE
inline constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Access to a folder held open: enough to reach what is below it and to
// look at it, not to read it (a drop box is reached too).
inline constexpr ACCESS_MASK kFolderAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

struct OpenRequest {
    ACCESS_MASK access = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    ULONG share = kShareAll;
    ULONG disposition = kOpen;
    ULONG options = 0;
    ULONG attributes = 0;
};

// Opens name, a single entry of the folder dir ("." the folder itself; no
// separator), through the system's relative open; the handle, or kNoHandle
// with error set. A reparse point is opened as itself when options has
// kNoReparse.
HANDLE OpenAt(HANDLE dir, QByteArrayView name, const OpenRequest& request, int& error);

// Opens name in dir as itself when it is a link (a symbolic link, a
// junction): the layer's links are the reparse points that stand for another
// name. Other reparse points (files held in the cloud, deduplicated ones)
// are opened through their filters, and only while they are still the file
// first found there.
HANDLE OpenNoLink(HANDLE dir, QByteArrayView name, OpenRequest request, int& error);

// ---------------------------------------------------------------------------
// Reads the next entries of the folder open for listing at handle into
// buffer, as FILE_FULL_DIR_INFO records; restart begins again at the first.
// 0, ERROR_NO_MORE_FILES at the end, or the system's error.
int ReadDirectory(HANDLE handle, void* buffer, ULONG size, bool restart);

// ---------------------------------------------------------------------------
// A handle's facts

struct Stat {
    BY_HANDLE_FILE_INFORMATION by{};
    FILE_BASIC_INFO basic{};
    DWORD tag = 0;  // the reparse tag, when there is one
};

// 0, or the system's error.
int StatOf(HANDLE handle, Stat& st);
bool IsLinkTag(DWORD tag);
FileKind KindOf(const Stat& st);
FileIdentity IdentityOf(const Stat& st);
FileInfo InfoOf(const Stat& st);
// Nothing there, or something that could not be examined.
FileInfo NotExamined(int error);

// Times as the system keeps them (100 ns since 1601) and as the layer does
// (ns since 1970).
qint64 Nanoseconds(const LARGE_INTEGER& time);
qint64 Nanoseconds(const FILETIME& time);
LARGE_INTEGER FileTime(qint64 ns);

// The attributes a copy takes from its source.
inline constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ---------------------------------------------------------------------------
// Changes by handle

// Gives the file of handle the name in dir; an existing name is replaced only
// when replace. 0, or the system's error (ERROR_ALREADY_EXISTS: taken).
int RenameByHandle(HANDLE handle, HANDLE dir, QByteArrayView name, bool replace);
// Another name in dir for the file of handle, never replacing one.
int LinkByHandle(HANDLE handle, HANDLE dir, QByteArrayView name);
// Deletes what handle holds (opened with DELETE): its name goes at once
// where the file system allows it, even while others hold it open; a
// read-only file goes too.
int DeleteByHandle(HANDLE handle);
// Sets the attributes, the times left as they are.
int SetAttributes(HANDLE handle, DWORD attributes);

}  // namespace zandrel::fs::win
