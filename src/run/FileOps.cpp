#include "run/FileOps.h"

#include "common/Host.h"
#include "common/Paths.h"
#include "run/RunView.h"

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

void MakeSureDirectoryPathExists(const QByteArray& path) {
    fs::MakeFolderPath(path);
}

fs::BlockProgress RunBlockProgress(Host& host, RunView& view, RunProgress& progress) {
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

bool CopyFileBlocks(const QByteArray& source, const QByteArray& destination, Host& host,
                    RunView& view, RunProgress& progress) {
    const fs::Folder sourceFolder = fs::Folder::openAsNamed(GetFolderPart(source));
    const fs::Folder destinationFolder = fs::Folder::openAsNamed(GetFolderPart(destination));
    const QByteArray sourceName = GetFileName(source);
    const QByteArray destinationName = GetFileName(destination);
    const fs::FileInfo before = sourceFolder.info(sourceName.constData(), true);
    if (before.kind != fs::FileKind::File || before.size == 0)
        return false;
    view.BeginFileProgress(before.size);
    fs::SourceFile file;
    if (fs::OpenSource(sourceFolder, sourceName.constData(), file) != 0)
        return false;
    fs::CopyRequest request;
    request.destination = &destinationFolder;
    request.name = destinationName.constData();
    request.seen = destinationFolder.info(destinationName.constData(), true);
    request.permissions = file.info.permissions;
    if (fs::CopyFileBlocks(file, request, RunBlockProgress(host, view, progress)) !=
        fs::CopyResult::Copied)
        return false;
    view.EndFileProgress();
    return true;
}

}  // namespace zandrel
