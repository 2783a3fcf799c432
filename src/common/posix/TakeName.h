#pragma once
// How a finished copy takes its name on Linux, exactly as it was decided:
// a name that was free is taken without replacing anything, and a file
// decided to be replaced is replaced only while it is still that file. No
// path falls back to a rename that replaces whatever stands there, also
// where the file system cannot refuse to replace (FAT and exFAT through
// FUSE).

#include "common/FileSystem.h"

#include <sys/stat.h>

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

// Whether what stands at name is still the file seen (its identity, size and
// modification time; renaming it changes its change time).
bool StillSeen(const struct stat& there, const FileInfo& seen);

}  // namespace zandrel::fs::naming
