#pragma once
// The files and folders a run works on. Everything below a folder that the
// user named is reached through open folders and never through a link, so a
// name always means the thing the run looked at: a swapped folder or a
// planted link can make an operation fail, never make it act elsewhere.
// The bodies are the platform's (posix/FileSystemPosix.cpp on Linux).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <functional>

namespace zandrel::fs {

struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

enum class FileKind : quint8 { Missing, File, Folder, Link, Other };

struct FileInfo {
    FileKind kind = FileKind::Missing;
    qint64 size = 0;
    qint64 modified = 0;      // whole seconds
    qint64 modifiedNs = 0;    // the same time to the nanosecond
    quint32 permissions = 0;  // read, write and execute for owner, group and others
    bool ownerWritable = false;
    FileIdentity identity;
    bool exists() const { return kind != FileKind::Missing; }
};

// What is at path, as named.
FileInfo InfoAt(const QByteArray& path, bool followLink = true);

// An open file or folder of the platform (a descriptor on Linux); closes
// once.
class Handle {
  public:
    Handle() = default;
    explicit Handle(int native) : native_(native) {}
    Handle(Handle&& other) noexcept : native_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    bool valid() const { return native_ >= 0; }
    int native() const { return native_; }
    void reset(int native = -1);
    int release() {
        const int n = native_;
        native_ = -1;
        return n;
    }

  private:
    int native_ = -1;
};

// An open folder. Names given to its functions are single entries of it
// (no "/"); "." and ".." name the folder itself and its parent.
class Folder {
  public:
    Folder() = default;
    // The folder as the user named it: links on the way are followed.
    static Folder openAsNamed(const QByteArray& path);

    bool valid() const { return handle_.valid(); }
    const Handle& handle() const { return handle_; }

    // What is at name; a link is looked at itself unless followLink.
    FileInfo info(const char* name, bool followLink) const;
    FileInfo info() const;  // the folder itself
    // A sub-folder, opened without following a link.
    Folder child(const char* name) const;
    // Makes a sub-folder with these permissions (masked by the process's
    // file-creation mask); true when it was made.
    bool makeChild(const char* name, quint32 permissions) const;
    // Sets the folder's own permissions.
    bool setPermissions(quint32 permissions) const;

    // Deletes the file or link at name, but only while name still stands for
    // expected (a thing swapped in meanwhile is kept).
    bool deleteFile(const char* name, const FileIdentity& expected) const;
    // Removes the empty sub-folder name (never a link to one).
    bool removeFolder(const char* name) const;
    // "Attributes to normal": adds the owner's write permission to the file
    // or folder at name; a link is never changed, nor what it points to.
    // Nothing is done when seen (name looked at already) has it.
    void addOwnerWrite(const char* name, const FileInfo* seen = nullptr) const;

  private:
    friend class FolderCursor;
    explicit Folder(Handle handle) : handle_(std::move(handle)) {}
    Handle handle_;
};

// Resolves folder paths beneath a root folder, one at a time, keeping the
// latest open: the files of one folder come one after the other. No link is
// followed below the root; "." is passed over and ".." may not leave it.
class FolderCursor {
  public:
    // How a folder that is missing gets made: the source folder it mirrors
    // (its permissions, owner, extended attributes, ACLs and time), for the
    // folder at the relative path given (the path up to and including it);
    // null makes it as "mkdir" would.
    using MirrorOf = std::function<const Folder*(QByteArrayView relative)>;

    void reset(Folder root);
    const Folder& root() const { return root_; }

    // The folder at relative ("" is the root); null when it cannot be
    // reached. With mirrorOf, missing folders are made on the way.
    const Folder* reach(QByteArrayView relative, const MirrorOf* mirrorOf = nullptr);
    // After a reach that failed: whether only missing folders stood in the
    // way (so making them would have reached it).
    bool lastWasMissing() const { return lastMissing_; }

    // Folders made without full access for their owner get it while files
    // go in; this gives them their own permissions at last, and the
    // modification times of the folders they mirror.
    void finish();

  private:
    Handle makeFolder(int at, const char* name, const QByteArray& path, const MirrorOf& mirrorOf);

    struct Fixup {
        QByteArray path;
        bool setPermissions;  // whether they differ from those during the run
        quint32 permissions;
        qint64 accessedNs;
        qint64 modifiedNs;
    };
    Folder root_;
    Folder current_;
    QByteArray currentPath_;  // normalised, relative to the root
    QList<Fixup> fixups_;
    bool lastMissing_ = false;
};

// Whether the folder at path looks writable to this process, or, when it is
// missing, whether its nearest existing folder does (nothing is written).
bool LooksWritable(const QByteArray& path);

// Permissions that "mkdir" gives a folder with no model.
inline constexpr quint32 kDefaultFolderPermissions = 0777;

// The block copy's outcomes, so callers can tell failures apart; the user
// sees "Copy failed: " for all but Copied.
enum class CopyResult {
    Copied,
    Aborted,
    NotARegularFile,
    SameFile,
    ReadFailed,
    WriteFailed,
    SourceChanged,
    CouldNotPutInPlace,
};

// A source file held open for copying, with what its name stood for.
struct SourceFile {
    Handle handle;
    FileInfo info;              // the opened file itself
    FileIdentity nameIdentity;  // the name: the file, or the link to it
    bool throughLink = false;
    // As found when opened, so the copy can tell that it was written to
    // meanwhile without looking again first.
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    qint64 accessedNs = 0;
    qint64 allocated = 0;  // bytes of storage; fewer than size means holes
    quint32 owner = 0;
    quint32 group = 0;
};

// Opens name in folder for reading without ever blocking (a FIFO or device
// is not read). A link is followed only to a regular file, and remembered as
// the name.
bool OpenSource(const Folder& folder, const char* name, SourceFile& source);
// "Attributes to normal" for an open source, unless it was reached through a
// link.
void AddOwnerWrite(SourceFile& source);

// Called once per block of this size with the bytes done and the total;
// returning false stops the copy.
inline constexpr qint64 kBlockSize = 4096;
using BlockProgress = std::function<bool(qint64 done, qint64 total)>;

struct CopyRequest {
    const Folder* destination = nullptr;
    const char* name = nullptr;
    // The destination as looked at before (Missing: not there or not looked).
    FileInfo seen;
    // The copy's permissions before the file-creation mask.
    quint32 permissions = 0666;
    // For PutEmptyFile: the source whose times, owner, extended attributes
    // and ACL the copy takes (CopyFileBlocks takes its own source's).
    const SourceFile* model = nullptr;
};

// Copies the open source into a new file in the destination folder that
// takes the name only when it is complete. Before it does, it is a replica
// of the source where the destination keeps it: holes, modification time to
// the nanosecond, extended attributes and ACL, owner and group when the run
// is root's, and the requested permissions, never more than the source's
// ACL gives and without group permissions when its group is not the
// source's. What the destination cannot keep is no failure. Whatever was at
// the name stays until then, and stays when the copy fails. placed receives
// the new file's identity.
CopyResult CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                          const BlockProgress& progress, FileIdentity* placed = nullptr);

// Puts an empty file at the name, replacing what is there (not the source
// itself, not a folder), a replica of request.model as CopyFileBlocks makes
// one; true when done.
bool PutEmptyFile(const CopyRequest& request, const FileIdentity* source,
                  FileIdentity* placed = nullptr);

// Writes a probe file under a name that is not there yet (never touching a
// file that was there before) and removes it again, calling beforeRemoving
// in between; false when it could not be written.
bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving = {});

// Creates every missing folder of path (as "mkdir -p" would).
void MakeFolderPath(const QByteArray& path);

// The file-creation mask applied to these permissions.
quint32 Masked(quint32 permissions);

// The step in which the file system of folder keeps modification times, in
// nanoseconds: 2 s on FAT, 1 s on exFAT, 1 ns on most Linux file systems.
// Two times within one step cannot be told apart there.
qint64 TimeResolution(const Folder& folder);

}  // namespace zandrel::fs
