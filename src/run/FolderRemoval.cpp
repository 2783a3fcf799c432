#include "run/FolderRemoval.h"

#include <unistd.h>

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

// Moving the texts of each length to the front in turn leaves the lengths in
// the reverse order of the steps, and each length's texts reversed. Every
// length lies between the shortest and the longest, so the outcome is that
// order, computed here without the quadratic moves.
// The shortest start only widens the range of lengths stepped through, which
// moves nothing more.
template <typename List>
void OrderByLength(List& list, bool descending) {
    if (list.isEmpty())
        return;
    std::vector<qsizetype> order(static_cast<size_t>(list.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const qsizetype la = list.at(a).size();
        const qsizetype lb = list.at(b).size();
        return descending ? la < lb : la > lb;
    });
    // Within one length the texts come out reversed.
    for (auto first = order.begin(); first != order.end();) {
        const qsizetype len = list.at(*first).size();
        auto last =
            std::find_if(first, order.end(), [&](qsizetype k) { return list.at(k).size() != len; });
        std::reverse(first, last);
        first = last;
    }
    List sorted;
    sorted.reserve(list.size());
    for (const qsizetype k : order) sorted.append(list.at(k));
    list = std::move(sorted);
}

// Removes folder when it exists; false when that fails.
bool RemoveIfThere(const QByteArray& folder) {
    ClearAttributes(folder, QByteArray());
    return !FolderExists(folder) || ::rmdir(folder.constData()) == 0;
}

}  // namespace

void OrderLongestFirst(QList<QByteArray>& list, bool descending, int shortestStart) {
    OrderByLength(list, descending);
    Q_UNUSED(shortestStart);
}

void OrderLongestFirst(QStringList& list, bool descending, int shortestStart) {
    OrderByLength(list, descending);
    Q_UNUSED(shortestStart);
}

QList<QByteArray> RemoveMovedFolders(const QString& sourceFolder, bool includeSubfolders,
                                     Host& host) {
    const QByteArray source = EncodePath(sourceFolder);
    SearchResult found;
    if (includeSubfolders)
        ListFolderTree(source, kAllFolders, found, host);
    ListSubfolders(FolderList{source}, kAllFolders, found, host);
    if (!includeSubfolders && found.Count > 0)
        return {};

    QList<QByteArray> working;
    for (int i = 0; i < found.Count && i < found.Paths.size(); ++i) {
        host.yield();
        working.append(found.Paths.at(i));
    }
    OrderLongestFirst(working, false, 1000);

    QList<QByteArray> failures;
    for (const QByteArray& folder : working) {
        host.yield();
        if (!RemoveIfThere(folder))
            failures.append(kDeleteFailed + folder);
    }
    if (!RemoveIfThere(source))
        failures.append(kDeleteFailed + source);
    return failures;
}

}  // namespace zandrel
