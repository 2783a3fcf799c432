#include "search/DirAndFileSearch.h"

#include <QSet>
#include <vector>

#include "common/Host.h"
#include "search/DirectoryReader.h"
#include "search/Filter.h"
#include "search/PatternMatcher.h"

namespace zandrel {

namespace {

// A folder of a folder list as it is searched: with a closing "/". An empty
// entry names no folder (it must not turn into the root).
QByteArray searchFolder(const QByteArray& folder) {
    if (folder.isEmpty() || folder.endsWith('/'))
        return folder;
    QByteArray result;
    result.reserve(folder.size() + 1);
    result += folder;
    result += '/';
    return result;
}

QByteArray joined(const QByteArray& folder, const char* name, std::size_t size) {
    QByteArray path;
    path.reserve(folder.size() + static_cast<qsizetype>(size));
    path.append(folder);
    path.append(name, static_cast<qsizetype>(size));
    return path;
}

void setCount(SearchResult& result) {
    result.Count = static_cast<qint32>(result.Paths.size());
}

// One walk: the reader's buffers are reused from folder to folder. Every
// operation returns false when it saw an abort request.
class Walk {
  public:
    explicit Walk(Host& host) : host_(host) {}

    bool subfolders(const FolderList& folders, int attributes, QList<QByteArray>& out) {
        QSet<QByteArray> used;
        for (const QByteArray& piece : folders) {
            if (AbortRequested(host_))
                return false;
            const QByteArray folder = searchFolder(piece);
            if (folder.isEmpty() || used.contains(folder))
                continue;
            used.insert(folder);
            subfoldersOf(folder, attributes, out);
        }
        return true;
    }

    // Depth-first pre-order on an explicit stack, so that deep trees cannot
    // exhaust the call stack. Each folder's listing is read completely before
    // any of its subfolders is opened.
    bool tree(const QByteArray& root, int attributes, QList<QByteArray>& out) {
        if (AbortRequested(host_))
            return false;
        const QByteArray folder = searchFolder(root);
        if (folder.isEmpty())
            return true;
        struct Level {
            QList<QByteArray> subfolders;
            qsizetype next = 0;
        };
        std::vector<Level> stack(1);
        subfoldersOf(folder, attributes, stack.back().subfolders);
        while (!stack.empty()) {
            Level& level = stack.back();
            if (level.next == level.subfolders.size()) {
                stack.pop_back();
                continue;
            }
            if (AbortRequested(host_))
                return false;
            const QByteArray path = std::move(level.subfolders[level.next++]);
            out.append(path);
            Level child;
            subfoldersOf(searchFolder(path), attributes, child.subfolders);
            stack.push_back(std::move(child));
        }
        return true;
    }

    bool files(const FolderList& folders, const QString& patternList, int attributes,
               QList<QByteArray>& out) {
        // A fresh pattern record per folder gives every folder the same list.
        std::vector<PatternMatcher> patterns;
        for (const QString& pattern : PatternsToSearch(patternList)) patterns.emplace_back(pattern);
        QSet<QByteArray> used;
        for (const QByteArray& piece : folders) {
            if (AbortRequested(host_))
                return false;
            const QByteArray folder = searchFolder(piece);
            if (folder.isEmpty() || used.contains(folder))
                continue;
            used.insert(folder);
            if (patterns.empty())
                continue;
            // One reading of the folder serves all of its patterns.
            reader_.read(folder, attributes);
            for (const PatternMatcher& pattern : patterns) {
                host_.yield();
                reader_.search(pattern, attributes,
                               [&](const char* name, std::size_t size, std::uint16_t) {
                                   out.append(joined(folder, name, size));
                               });
            }
        }
        return true;
    }

  private:
    // The folder's immediate subfolders; a link to a folder is passed over,
    // so the walk can neither loop nor leave the folder it started in.
    void subfoldersOf(const QByteArray& folder, int attributes, QList<QByteArray>& out) {
        if (!reader_.read(folder, attributes))
            return;
        reader_.search(everything_, attributes,
                       [&](const char* name, std::size_t size, std::uint16_t props) {
                           host_.yield();
                           if (name[0] == '.' && (size == 1 || (size == 2 && name[1] == '.')))
                               return;
                           if ((props & PropFolder) && !(props & PropLink))
                               out.append(joined(folder, name, size));
                       });
    }

    Host& host_;
    DirectoryReader reader_;
    const PatternMatcher everything_{QStringLiteral("*.*")};
};

}  // namespace

bool AbortRequested(const Host& host) {
    return host.abortRequested();
}

void ListSubfolders(const FolderList& folders, int attributes, SearchResult& result, Host& host) {
    if (Walk(host).subfolders(folders, attributes, result.Paths))
        setCount(result);
}

void ListFolderTree(const QByteArray& folder, int attributes, SearchResult& result, Host& host) {
    if (Walk(host).tree(folder, attributes, result.Paths))
        setCount(result);
}

void ListFiles(const FolderList& folders, const QString& patterns, int attributes,
               SearchResult& result, Host& host) {
    if (Walk(host).files(folders, patterns, attributes, result.Paths))
        setCount(result);
}

void ListFilesBelow(const QByteArray& folder, const QString& patterns, int folderAttributes,
                    int fileAttributes, SearchResult& result, Host& host) {
    Walk walk(host);
    FolderList folders;
    if (!walk.tree(folder, folderAttributes, folders))
        return;
    // The folder list is complete before any file is listed; an abort
    // request seen now ends the operation with no file listed.
    if (!folders.isEmpty() && AbortRequested(host))
        return;
    if (walk.files(folders, patterns, fileAttributes, result.Paths))
        setCount(result);
}

}  // namespace zandrel
