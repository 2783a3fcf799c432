#pragma once
// How a finished copy takes its name on Windows, exactly as it was decided:
// a name that was free is taken by a rename that never replaces, and a file
// decided to be replaced is replaced only while it is still that file. Every
// step acts through a handle, so what was looked at is what is changed.

#include "common/FileSystem.h"
#include "common/win/Nt.h"

namespace zandrel::fs::naming {

// A fresh hidden name beside name for a copy on its way to it (".name"
// and a random part, ending ".zandrel-part"); only the run's own are ever
// removed.
QByteArray FreshTemporaryName(const char* name);

// The copy, held open at file (with DELETE access), is in dir under another
// name; seen is what stood at name when the copy was decided on (Missing:
// the name was free). source, when given, is never replaced. Whatever is not
// the copy's stays where it is.
CopyOutcome TakeName(HANDLE dir, HANDLE file, const char* name, const FileInfo& seen,
                     const FileIdentity* source);

// Whether what stands at name is still the file seen (its identity, size and
// modification time).
bool StillSeen(const win::Stat& there, const FileInfo& seen);

}  // namespace zandrel::fs::naming
