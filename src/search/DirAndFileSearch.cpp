#include "search/DirAndFileSearch.h"

#include <QSet>
#include <cstring>
#include <vector>

#include "common/Host.h"
#include "search/DirectoryReader.h"
#include "search/Filter.h"
#include "search/PatternMatcher.h"

namespace zandrel {

namespace {

// A folder of a folder list as it is searched: with a closing "/". An empty
// entry names no folder (it must not turn into the root).
QByteArray SearchFolder(const QByteArray& folder) {
    if (folder.isEmpty() || folder.endsWith('/'))
        return folder;
    QByteArray result(folder.size() + 1, Qt::Uninitialized);
    std::memcpy(result.data(), folder.constData(), static_cast<std::size_t>(folder.size()));
    result.data()[folder.size()] = '/';
    return result;
}

QByteArray Joined(const QByteArray& folder, const char* name, std::size_t size) {
    const auto folderSize = static_cast<std::size_t>(folder.size());
    QByteArray path(static_cast<qsizetype>(folderSize + size), Qt::Uninitialized);
    std::memcpy(path.data(), folder.constData(), folderSize);
    std::memcpy(path.data() + folderSize, name, size);
    return path;
}

bool IsDotOrDotDot(const char* name, std::size_t size) {
    return name[0] == '.' && (size == 1 || (size == 2 && name[1] == '.'));
}

void SetCount(SearchResult& result) {
    result.Count = static_cast<qint32>(result.Paths.size());
}

// One walk; the reader's buffers are reused from folder to folder. Every
// operation returns false when it saw an abort request.
class Walk {
  public:
    Walk(Host& host, SearchResult& result, fs::Overlay* overlay)
        : host_(host), result_(result), overlay_(overlay) {}

    // Folders below root are reached from it through open folders, never
    // through a link: a folder swapped for a link after it was listed is
    // not read. Others (the folders as named) are opened as named.
    void setRoot(const QByteArray& root) {
        rootPrefix_ = SearchFolder(root);
        below_.reset(fs::Folder::openAsNamed(root, overlay_));
    }

    bool subfolders(const FolderList& folders, int attributes, QList<QByteArray>& out) {
        QSet<QByteArray> used;
        DirectoryListing listing;
        for (const QByteArray& piece : folders) {
            if (AbortRequested(host_))
                return false;
            const QByteArray folder = SearchFolder(piece);
            if (folder.isEmpty() || used.contains(folder))
                continue;
            used.insert(folder);
            subfoldersOf(folder, attributes, listing, out);
        }
        return true;
    }

    // Depth-first pre-order on an explicit stack, so that deep trees cannot
    // exhaust the call stack. Each folder's listing is read completely before
    // any of its subfolders is opened. When listings is given, it receives
    // the listing of every folder appended to out, in the same order.
    bool tree(const QByteArray& root, int attributes, QList<QByteArray>& out,
              std::vector<DirectoryListing>* listings = nullptr) {
        if (AbortRequested(host_))
            return false;
        const QByteArray folder = SearchFolder(root);
        if (folder.isEmpty())
            return true;
        setRoot(folder);
        struct Level {
            QList<QByteArray> subfolders;
            qsizetype next = 0;
        };
        std::vector<Level> stack(1);
        DirectoryListing listing;
        subfoldersOf(folder, attributes, listing, stack.back().subfolders);
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
            subfoldersOf(SearchFolder(path), attributes, listing, child.subfolders);
            if (listings)
                listings->push_back(std::move(listing));
            stack.push_back(std::move(child));
        }
        return true;
    }

    // With listings (parallel to folders), a folder's listing is taken from
    // there instead of reading the folder again; each is freed once used.
    bool files(const FolderList& folders, const QString& patternList, int attributes,
               QList<QByteArray>& out, std::vector<DirectoryListing>* listings = nullptr) {
        // A fresh pattern record per folder gives every folder the same list.
        std::vector<PatternMatcher> patterns;
        for (const QString& pattern : PatternsToSearch(patternList)) patterns.emplace_back(pattern);
        QSet<QByteArray> used;
        DirectoryListing own;
        for (qsizetype i = 0; i < folders.size(); ++i) {
            if (AbortRequested(host_))
                return false;
            const QByteArray folder = SearchFolder(folders.at(i));
            if (folder.isEmpty() || used.contains(folder))
                continue;
            used.insert(folder);
            if (patterns.empty())
                continue;
            DirectoryListing* listing = &own;
            if (listings && static_cast<std::size_t>(i) < listings->size())
                listing = &(*listings)[static_cast<std::size_t>(i)];
            else
                readFolder(folder, own);
            // One reading of the folder serves all of its patterns.
            for (const PatternMatcher& pattern : patterns) {
                host_.yield();
                listing->search(pattern, attributes,
                                [&](const char* name, std::size_t size, std::uint16_t) {
                                    out.append(Joined(folder, name, size));
                                });
            }
            if (listing != &own)
                *listing = DirectoryListing();
        }
        return true;
    }

  private:
    const fs::Folder* reach(const QByteArray& folder) {
        if (!rootPrefix_.isEmpty() && folder.startsWith(rootPrefix_)) {
            QByteArrayView relative = QByteArrayView(folder).sliced(rootPrefix_.size());
            if (relative.endsWith('/'))
                relative.chop(1);
            return below_.reach(relative);
        }
        named_ = fs::Folder::openAsNamed(folder, overlay_);
        return named_.valid() ? &named_ : nullptr;
    }

    // A folder that cannot be opened or read to its end lists nothing and
    // is recorded, with the reason, so the list is not taken for complete.
    bool readFolder(const QByteArray& folder, DirectoryListing& listing) {
        const fs::Folder* open = reach(folder);
        const int error =
            open ? DirectoryReader::read(*open, listing)
                 : (rootPrefix_.isEmpty() || !folder.startsWith(rootPrefix_) ? named_.openError()
                                                                             : below_.lastError());
        if (open && error == 0)
            return true;
        listing = DirectoryListing();
        result_.UnreadableFolders.append(folder);
        result_.UnreadableReasons.append(fs::ErrorText(error));
        return false;
    }

    // The folder's immediate subfolders; a link to a folder is passed over,
    // so the walk can neither loop nor leave the folder it started in.
    void subfoldersOf(const QByteArray& folder, int attributes, DirectoryListing& listing,
                      QList<QByteArray>& out) {
        if (!readFolder(folder, listing))
            return;
        listing.search(everything_, attributes,
                       [&](const char* name, std::size_t size, std::uint16_t props) {
                           host_.yield();
                           if (IsDotOrDotDot(name, size))
                               return;
                           if ((props & PropFolder) && !(props & PropLink))
                               out.append(Joined(folder, name, size));
                       });
    }

    Host& host_;
    SearchResult& result_;
    fs::Overlay* overlay_;
    QByteArray rootPrefix_;
    fs::FolderCursor below_;
    fs::Folder named_;
    const PatternMatcher everything_{QStringLiteral("*.*")};
};

}  // namespace

bool AbortRequested(const Host& host) {
    return host.abortRequested();
}

void ListSubfolders(const FolderList& folders, int attributes, SearchResult& result, Host& host,
                    fs::Overlay* overlay) {
    if (Walk(host, result, overlay).subfolders(folders, attributes, result.Paths))
        SetCount(result);
}

void ListFolderTree(const QByteArray& folder, int attributes, SearchResult& result, Host& host,
                    fs::Overlay* overlay) {
    if (Walk(host, result, overlay).tree(folder, attributes, result.Paths))
        SetCount(result);
}

void ListFiles(const FolderList& folders, const QString& patterns, int attributes,
               SearchResult& result, Host& host, fs::Overlay* overlay) {
    if (Walk(host, result, overlay).files(folders, patterns, attributes, result.Paths))
        SetCount(result);
}

void ListFilesBelow(const QByteArray& folder, const QString& patterns, int folderAttributes,
                    int fileAttributes, SearchResult& result, Host& host, fs::Overlay* overlay) {
    Walk walk(host, result, overlay);
    FolderList folders;
    // Each folder is read once: the listings read while collecting the
    // folders serve the file listing too.
    std::vector<DirectoryListing> listings;
    if (!walk.tree(folder, folderAttributes, folders, &listings))
        return;
    // The folder list is complete before any file is listed; an abort
    // request seen now ends the operation with no file listed.
    if (!folders.isEmpty() && AbortRequested(host))
        return;
    if (walk.files(folders, patterns, fileAttributes, result.Paths, &listings))
        SetCount(result);
}

}  // namespace zandrel
