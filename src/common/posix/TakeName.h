#pragma once
// How a finished copy takes its name on Linux, exactly as it was decided:
// a name that was free is taken without replacing anything, and a file
// decided to be replaced is replaced only while it is still that file.
// Where the file system can neither refuse to replace nor exchange two
// names (FAT and exFAT through FUSE), a plain rename follows a look at the
// name, and only that look stands between the check and the rename.

#include "common/FileSystem.h"

#include <sys/stat.h>

#include <functional>

namespace zandrel::fs::naming {

FileIdentity IdentityOf(const struct stat& st);

// A fresh hidden name beside name for a copy on its way to it (".name"
// and a random part, ending ".zandrel-part"); only the run's own are ever
// removed.
QByteArray FreshTemporaryName(const char* name);

// The copy is at hidden in dir; seen is what stood at name when the copy was
// decided on (Missing: the name was free). source, when given, is never
// replaced. Whatever is not the copy's stays where it is.
CopyOutcome TakeName(int dir, const char* hidden, const char* name, const FileInfo& seen,
                     const FileIdentity* source);

// Whether the file system of the folder dir keeps a file's inode number
// once no handle to it is open (fs::KeepsInodeNumbers).
bool KeepsNumbers(int dir);

// Whether what stands at name is still the file seen: its size and
// modification time, and its identity where the file system keeps inode
// numbers (byNumber); FAT and exFAT number a file afresh once the cache
// drops it, which is no change.
bool StillSeen(const struct stat& there, const FileInfo& seen, bool byNumber = true);

// The one way a new file (a copy, a link, a log) gets a hidden name before
// its real one: make(name) is tried under the names that nameFor(attempt)
// gives until one is free; hidden receives it. False when make failed for
// another reason than a name in use (errno tells), or no name was free.
bool MakeUnderHiddenName(const std::function<QByteArray(int attempt)>& nameFor,
                         const std::function<bool(const char* name)>& make, QByteArray& hidden,
                         int attempts = 10);

// Gives the unnamed file fd the name in dir; never replaces (EEXIST).
// Linking by descriptor needs a capability on older kernels; the
// descriptor's /proc entry needs none.
bool LinkUnnamed(int fd, int dir, const char* name);

}  // namespace zandrel::fs::naming
