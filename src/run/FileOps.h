#pragma once
// The path side of a transfer: the part of a path below its root, and the
// block copy's callback that shows the run's progress.

#include <QByteArray>

#include "common/FileSystem.h"

namespace zandrel {

class Host;
class ProgressSink;
struct RunProgress;

// The part of a full path below its root part. On Linux "/" plays the drive
// root and the first folder level goes with it: "/L1/rest" gives "rest",
// "/a.txt" gives "a.txt". Relative paths follow the general rule.
QByteArray PathBelowRoot(const QByteArray& path);

// The copy's block callback of a run: a yield and an abort test before each
// block, then the run's byte total and the view's block progress.
fs::BlockProgress RunBlockProgress(Host& host, ProgressSink& view, RunProgress& progress);

}  // namespace zandrel
