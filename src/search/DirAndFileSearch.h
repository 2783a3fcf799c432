#pragma once
// The folder walk: lists folders and matching entries as full byte paths, in
// a fixed order, appending to a SearchResult that the caller owns. Folder
// lists are carried as sequences so a name holding ";" stays one folder.

#include <QByteArray>
#include <QList>
#include <QString>

namespace zandrel {

class Host;
namespace fs {
class Overlay;
}

struct SearchResult {
    qint32 Count = 0;         // entries in Paths when the last listing completed
    QList<QByteArray> Paths;  // full paths, in listing order
    // Folders that could not be read (each once, with its closing "/"), so
    // that files left out with them are not taken for a complete list.
    QList<QByteArray> UnreadableFolders;
    QList<QString> UnreadableReasons;  // the system's reason, for each of them
};

// Sums of these make an attribute set; read-only never keeps an entry out.
enum EntryAttributes { AttrReadOnly = 1, AttrHidden = 2, AttrSystem = 4, AttrFolder = 16 };

using FolderList = QList<QByteArray>;

// True while the Start button reads "Aborting...".
bool AbortRequested(const Host& host);

// With an overlay the folders are read as its effects have left them.
void ListSubfolders(const FolderList& folders, int attributes, SearchResult& result, Host& host,
                    fs::Overlay* overlay = nullptr);
void ListFolderTree(const QByteArray& folder, int attributes, SearchResult& result, Host& host,
                    fs::Overlay* overlay = nullptr);
void ListFiles(const FolderList& folders, const QString& patterns, int attributes,
               SearchResult& result, Host& host, fs::Overlay* overlay = nullptr);
void ListFilesBelow(const QByteArray& folder, const QString& patterns, int folderAttributes,
                    int fileAttributes, SearchResult& result, Host& host,
                    fs::Overlay* overlay = nullptr);

}  // namespace zandrel
