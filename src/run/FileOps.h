#pragma once
// The file operations of a transfer: destination paths, folder creation,
// attributes, and the block copy through a temporary file.

#include <fcntl.h>
#include <sys/stat.h>

#include <QByteArray>

#include "common/UniqueFd.h"

namespace zandrel {

class Host;
class RunView;
struct RunProgress;

// Progress and the abort test come once per logical block of this size.
inline constexpr qint64 kCopyBlockSize = 4096;

// The part of a full path below its root part. On Linux "/" plays the drive
// root and the first folder level goes with it: "/L1/rest" gives "rest",
// "/a.txt" gives "a.txt". Relative paths follow the general rule.
QByteArray PathBelowRoot(const QByteArray& path);

// Creates every missing folder named by the text before the last "/".
void MakeSureDirectoryPathExists(const QByteArray& path);

// Adds the owner's write permission to both paths (an empty path is
// skipped); failures are ignored.
void ClearAttributes(const QByteArray& first, const QByteArray& second);

// Replaces whatever file is at path by an empty file; true when something
// exists there afterwards. A failure to create counts as nothing there.
bool EnsureFileExists(const QByteArray& path);

// The hidden name beside destination that a copy carries where it cannot be
// written unnamed, and while it replaces a file that is there. Derived from
// the destination name alone, so a leftover is replaced by the next copy of
// the same file.
QByteArray TemporaryCopyName(const QByteArray& destination);
inline const QByteArray kTemporarySuffix = QByteArrayLiteral(".zandrel-part");

// A file named relative to an open folder, or by its whole path when the
// folder is AT_FDCWD.
struct FileAt {
    int folder = AT_FDCWD;
    const char* name = nullptr;
};

// Keeps the folder of the latest path open, so the files of one folder are
// reached by their names alone rather than by a walk of the whole path.
class OpenFolder {
  public:
    // path must outlive the returned reference.
    FileAt locate(const QByteArray& path);
    bool stat(const QByteArray& path, struct stat& st);
    void forget();

  private:
    QByteArray folder_;
    UniqueFd fd_;
};

// Same device and inode, however the two paths are spelled.
bool SameFile(const struct stat& a, const struct stat& b);

// Copies source to destination through a temporary file in the destination's
// folder that takes the destination's name only when complete. The view sees
// BeginFileProgress, then one ShowBlockProgress per 4096-byte block (each
// preceded by a yield and an abort test), then EndFileProgress when the copy
// is complete. False on failure, interruption, a zero-length or a
// non-regular source, or a destination that is the source itself; the
// destination then keeps what it held before.
bool CopyFileBlocks(const QByteArray& source, const QByteArray& destination, Host& host,
                    RunView& view, RunProgress& progress);
// The same, with the stats already taken by the caller (destinationStat is
// null when the destination was not looked at) and the files named relative
// to their open folders.
bool CopyFileBlocks(FileAt source, const struct stat& sourceStat, FileAt destination,
                    const struct stat* destinationStat, Host& host, RunView& view,
                    RunProgress& progress);

}  // namespace zandrel
