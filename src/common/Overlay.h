#pragma once
// The disk as a run would have left it: the real disk, read only, overlaid
// with the effects that the run's code made through it (files placed,
// replaced and deleted, folders made and removed), keyed by the folder
// reached and the entry's name, never by the path text. Folders reached
// through an overlay answer from it and record their effects in it, so a
// preview runs the run's own code and nothing on the disk changes.
//
// Effects that would fail for reasons known without writing (permissions, a
// folder in the way) fail here the same way.

#include <QByteArray>
#include <QHash>
#include <QList>

#include "common/FileSystem.h"

namespace zandrel::fs {

class Overlay {
  public:
    // Questions.
    FileInfo info(const Folder& folder, const char* name, bool followLink);
    FileInfo folderInfo(const Folder& folder);
    Folder child(const Folder& folder, const char* name);
    int readEntries(const Folder& folder, const EntryVisit& visit);
    int openSource(const Folder& folder, const char* name, SourceFile& source);

    // Effects.
    bool makeChild(const Folder& folder, const char* name, quint32 permissions);
    Status deleteFile(const Folder& folder, const char* name, const FileIdentity& expected);
    Status removeFolder(const Folder& folder, const char* name);
    // A copy of what (a file, an empty file or a link) put at the request's
    // name.
    // A link's text goes with it.
    CopyOutcome place(const FileInfo& what, const CopyRequest& request, FileIdentity* placed,
                      const QByteArray& linkText = {});
    // Another name for the copy expected at fromName in from (a hard link).
    CopyOutcome placeLink(const Folder& from, const char* fromName, const FileIdentity& expected,
                          const CopyRequest& request, FileIdentity* placed);
    // The text of a link placed here at name, or empty.
    QByteArray linkText(const Folder& folder, const char* name) const;

    // A folder made here as the run makes one for the structure: open to its
    // owner while files go in, like model (its permissions and time) once the
    // Listing is settled.
    void makeLike(const Folder& made, const FileInfo& model);
    void settle();
    // WriteAccess for a folder only the overlay made.
    int writeAccess(const Folder& folder) const;

    // Paths as named.
    FileInfo infoAt(const QByteArray& path, bool followLink);
    Folder openAsNamed(const QByteArray& path);
    void makeFolderPath(const QByteArray& path);
    bool probeWrite(const QByteArray& path);

  private:
    struct Node {
        FileInfo info;  // Missing: deleted
        QByteArray linkText;
    };
    // Where a link placed here at name in folder (reached as folderPath)
    // leads, as a path; false when no such link stands there.
    bool placedLinkTarget(const Folder& folder, const QByteArray& folderPath,
                          const QByteArray& name, QByteArray& target) const;
    static constexpr int kMaxLinkDepth = 40;  // as the kernel's limit
    int linkDepth_ = 0;
    static QByteArray keyOf(const FileIdentity& folder);
    const Node* find(const Folder& folder, const char* name) const;
    void record(const Folder& folder, const char* name, const FileInfo& info,
                const QByteArray& linkText = {});
    Folder virtualFolder(const FileInfo& info);
    FileIdentity freshIdentity() { return {kVirtualDevice, ++made_}; }
    // A folder's time as its changes here have left it.
    FileInfo withChanges(FileInfo info) const;
    qint64 tick();
    int resolveDots(const QByteArray& path, QByteArray& resolved);

    // Per folder (keyOf its identity): its entries that differ from the disk.
    QHash<QByteArray, QHash<QByteArray, Node>> nodes_;
    // When each folder's entries last changed here, in nanoseconds: the run
    // would change it then.
    QHash<QByteArray, qint64> changed_;
    QHash<QByteArray, FileInfo> madeFolders_;  // by keyOf their identity
    QHash<QByteArray, FileInfo> unsettled_;    // made like these, not settled yet
    quint64 made_ = 0;
    qint64 clock_ = 0;
};

}  // namespace zandrel::fs
