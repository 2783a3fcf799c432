#include "run/FileOps.h"

#include "common/Host.h"
#include "run/ProgressSink.h"

namespace zandrel {

QByteArray PathBelowRoot(const QByteArray& path) {
    // Linux: the root "/" stands for the drive, so "/L1/" is the root part.
    if (path.startsWith('/')) {
        const qsizetype p2 = path.indexOf('/', 1);
        return p2 >= 0 ? path.mid(p2 + 1) : path.mid(1);
    }
    // The general rule: a first separator beyond the second character ends
    // the first level, the next one the root part.
    const qsizetype p1 = path.indexOf('/');
    if (p1 >= 2) {
        const qsizetype p2 = path.indexOf('/', p1 + 1);
        return p2 >= 0 ? path.mid(p2 + 1) : path.mid(p1 + 1);
    }
    return {};
}

fs::BlockProgress RunBlockProgress(Host& host, ProgressSink& view, RunProgress& progress) {
    return [&host, &view, &progress, shown = qint64(0)](qint64 done, qint64 total) mutable {
        host.yield();
        if (host.abortRequested())
            return false;
        progress.RunBytesCopied += static_cast<double>(done - shown);
        shown = done;
        view.ShowBlockProgress(done, total);
        return true;
    };
}

}  // namespace zandrel
