#pragma once
// The path side of a transfer: destination paths, folder creation, and the
// block copy with the run's progress shown on the view.

#include <QByteArray>

#include "common/FileSystem.h"

namespace zandrel {

class Host;
class RunView;
struct RunProgress;

// The part of a full path below its root part. On Linux "/" plays the drive
// root and the first folder level goes with it: "/L1/rest" gives "rest",
// "/a.txt" gives "a.txt". Relative paths follow the general rule.
QByteArray PathBelowRoot(const QByteArray& path);

// Creates every missing folder named by the text before the last "/".
void MakeSureDirectoryPathExists(const QByteArray& path);

// The copy's block callback of a run: a yield and an abort test before each
// block, then the run's byte total and the view's block progress.
fs::BlockProgress RunBlockProgress(Host& host, RunView& view, RunProgress& progress);

// Copies the file at source to destination (whole paths) with the run's
// progress: BeginFileProgress, one ShowBlockProgress per block, then
// EndFileProgress when complete. False on failure, interruption, a
// zero-length or a non-regular source, or a destination that is the source
// itself; the destination then keeps what it held before.
bool CopyFileBlocks(const QByteArray& source, const QByteArray& destination, Host& host,
                    RunView& view, RunProgress& progress);

}  // namespace zandrel
