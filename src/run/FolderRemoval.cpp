#include "run/FolderRemoval.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "common/Host.h"
#include "common/Paths.h"
#include "run/FileOps.h"
#include "run/RunState.h"
#include "search/DirAndFileSearch.h"

namespace zandrel {

namespace {

constexpr int kAllFolders = AttrHidden | AttrSystem | AttrFolder;

// Lengths in characters, as people count them, not in bytes.
qsizetype Characters(const QByteArray& text) {
    return std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

// Moving the texts of each length to the front in turn leaves the lengths in
// the reverse order of the steps, and each length's texts reversed. Every
// length lies between the shortest and the longest, so the outcome is that
// order, computed here without the quadratic moves.
void OrderByLength(QList<QByteArray>& list) {
    if (list.isEmpty())
        return;
    std::vector<qsizetype> order(static_cast<size_t>(list.size()));
    std::iota(order.begin(), order.end(), 0);
    std::vector<qsizetype> lengths(order.size());
    for (qsizetype k = 0; k < list.size(); ++k) lengths[size_t(k)] = Characters(list.at(k));
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const qsizetype la = lengths[size_t(a)];
        const qsizetype lb = lengths[size_t(b)];
        return la > lb;
    });
    // Within one length the texts come out reversed.
    for (auto first = order.begin(); first != order.end();) {
        const qsizetype len = lengths[size_t(*first)];
        auto last = std::find_if(first, order.end(),
                                 [&](qsizetype k) { return lengths[size_t(k)] != len; });
        std::reverse(first, last);
        first = last;
    }
    QList<QByteArray> sorted;
    sorted.reserve(list.size());
    for (const qsizetype k : order) sorted.append(list.at(k));
    list = std::move(sorted);
}

// Removes the folder name of parent when it is there: 0, or the system's
// error. Never through a link: a link found at a folder's place is reported.
int Unreadable(const fs::Folder& parent, const QByteArray& name) {
    const fs::Folder inside = parent.child(name.constData());
    if (!inside.valid())
        return inside.openError() ? inside.openError() : fs::error::kAccessDenied;
    return inside.readEntries([](const char*, std::size_t, fs::FileKind) {});
}

int RemoveIfThere(const fs::Folder* parent, int unreachable, const QByteArray& name,
                  const QByteArray& path, const RemovalAttempt& tried) {
    if (!parent || !parent->valid()) {
        if (tried)
            tried(path, false);
        return parent && parent->openError() ? parent->openError()
                                             : (unreachable ? unreachable : fs::error::kNotFound);
    }
    const fs::FileInfo there = parent->info(name.constData(), false);
    if (there.kind == fs::FileKind::Missing)
        return 0;
    // A folder whose entries the run cannot read is not removed: it never
    // saw what is in it, and whether it is empty cannot be foretold.
    int error = there.kind == fs::FileKind::Folder ? Unreadable(*parent, name)
                : there.kind == fs::FileKind::Unknown
                    ? (there.error ? there.error : fs::error::kIoError)
                    : fs::error::kNotAFolder;
    if (error == 0)
        error = parent->removeFolder(name.constData()).error;
    if (tried)
        tried(path, error == 0);
    return error;
}

// The folder that path names, without the "." that may end it: "a/." is a
// itself, and a folder named by "." is never removed (EINVAL).
QByteArray WithoutTrailingDots(QByteArray path) {
    path = RemoveTrailingSeparator(path);
    while (path.endsWith("/.")) {
        path.chop(2);
        // The root, of the disk or of a drive.
        if (path.isEmpty() || path.endsWith(':'))
            return path + kSeparator;
        path = RemoveTrailingSeparator(path);
    }
    return path;
}

// The abort test at a yield: true when the user confirmed the abort.
bool Stopped(const Host& host, const std::function<bool()>& confirmAbort) {
    return confirmAbort && host.abortRequested() && confirmAbort();
}

}  // namespace

void OrderLongestFirst(QList<QByteArray>& list) {
    OrderByLength(list);
}

QList<QByteArray> RemoveMovedFolders(const QString& sourceFolder, bool includeSubfolders,
                                     Host& host, fs::Overlay* overlay, const RemovalAttempt& tried,
                                     QList<QString>* reasons,
                                     const std::function<bool()>& confirmAbort) {
    const QByteArray source = FromCurrentFolder(sourceFolder);
    SearchResult found;
    // A walk cut short by an abort request that the user then declined is
    // done again, so that no folder is left out.
    for (;;) {
        found = {};
        if (includeSubfolders)
            ListFolderTree(source, kAllFolders, found, host, overlay);
        ListSubfolders(FolderList{source}, kAllFolders, found, host, overlay);
        if (!confirmAbort || !host.abortRequested())
            break;
        if (confirmAbort())
            return {};
    }
    if (!includeSubfolders && found.Count > 0)
        return {};

    QList<QByteArray> working;
    for (int i = 0; i < found.Count && i < found.Paths.size(); ++i) {
        host.yield();
        if (Stopped(host, confirmAbort))
            return {};
        working.append(found.Paths.at(i));
    }
    OrderLongestFirst(working);

    // Folders below the source are reached from it without links.
    fs::FolderCursor below;
    below.reset(fs::Folder::openAsNamed(source, overlay));
    const QByteArray prefix = source.endsWith(kSeparator) ? source : source + kSeparator;
    QList<QByteArray> failures;
    const auto fail = [&](const QByteArray& folder, int error) {
        const QString why = fs::ErrorText(error);
        failures.append(kDeleteFailed + folder);
        if (reasons)
            reasons->append(why);
        host.noteFailure(failures.constLast(), why);
    };
    for (const QByteArray& folder : working) {
        host.yield();
        if (Stopped(host, confirmAbort))
            return failures;
        const qsizetype cut = folder.lastIndexOf(kSeparator);
        const fs::Folder* parent =
            folder.startsWith(prefix) && cut >= prefix.size() - 1
                ? below.reach(QByteArrayView(folder).sliced(
                      prefix.size(), std::max<qsizetype>(0, cut - prefix.size())))
                : nullptr;
        if (const int error =
                RemoveIfThere(parent, below.lastError(), folder.mid(cut + 1), folder, tried))
            fail(folder, error);
    }
    // The source folder itself, as named.
    below.reset({});
    const QByteArray trimmed = WithoutTrailingDots(source);
    const QByteArray above = RemoveTrailingSeparator(GetFolderPart(trimmed));
    const fs::Folder parent = fs::Folder::openAsNamed(trimmed == "/"    ? trimmed
                                                      : above.isEmpty() ? QByteArrayLiteral(".")
                                                                        : above,
                                                      overlay);
    const QByteArray name = trimmed == "/" ? QByteArrayLiteral(".") : GetFileName(trimmed);
    if (const int error = RemoveIfThere(&parent, 0, name, source, tried))
        fail(source, error);
    return failures;
}

}  // namespace zandrel
