#pragma once
// The file layer's calls on the disk alone, whatever overlay a folder was
// reached through: the platform's bodies (posix/ on Linux). FileSystem.cpp
// chooses between these and a preview's Overlay, which reads the disk
// through them too; see FileSystem.h for what each does.

#include "common/FileSystem.h"

namespace zandrel::fs::disk {

FileInfo InfoAt(const QByteArray& path, bool followLink);
Folder OpenFolder(const QByteArray& path);
// The folder at path below from, reached without a link (not valid when it
// is not there as a folder).
Handle OpenBelow(const Folder& from, const QByteArray& path);

FileInfo InfoIn(const Folder& folder, const char* name, bool followLink);
FileInfo FolderInfo(const Folder& folder);
Folder Child(const Folder& folder, const char* name);
int ReadEntries(const Folder& folder, const EntryVisit& visit);
bool MakeChild(const Folder& folder, const char* name, quint32 permissions);
bool SetPermissions(const Folder& folder, quint32 permissions);
Status DeleteEntry(const Folder& folder, const char* name, const FileIdentity& expected);
Status RemoveFolder(const Folder& folder, const char* name);
int WriteAccess(const Folder& folder, const char* name);

// With waiting, the finished copy is handed back there unnamed (for a
// batch) instead of taking its name.
CopyOutcome CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                           const BlockProgress& progress, FileIdentity* placed,
                           WaitingCopy* waiting);
CopyOutcome PutEmptyFile(const CopyRequest& request, const FileIdentity* source,
                         FileIdentity* placed, WaitingCopy* waiting);
CopyOutcome CopyLink(const Folder& folder, const char* name, const FileInfo& seen,
                     const CopyRequest& request, FileIdentity* placed);
CopyOutcome LinkToCopy(const Folder& from, const char* fromName, const FileIdentity& expected,
                       const CopyRequest& request, const FileIdentity* source,
                       FileIdentity* placed);

// The text of the link name in folder, read without following it; empty
// when it is no link.
QByteArray LinkText(const Folder& folder, const char* name);

bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving);
void MakeFolderPath(const QByteArray& path);
// 0 when the folder at path may be written and searched, else the system's
// error.
int AccessForWriting(const QByteArray& path);

}  // namespace zandrel::fs::disk
