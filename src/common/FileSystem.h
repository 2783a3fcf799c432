#pragma once
// The files and folders a run works on. Everything below a folder that the
// user named is reached through open folders and never through a link, so a
// name always means the thing the run looked at: a swapped folder or a
// planted link can make an operation fail, never make it act elsewhere.
// FileSystem.cpp chooses between the disk (Disk.h, whose bodies are the
// platform's: posix/ on Linux) and a preview's Overlay.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

#if defined(__unix__)
#include "common/posix/NativeHandle.h"
#elif defined(_WIN32)
#include "common/win/NativeHandle.h"
#else
#error "Zandrel's file layer knows no native handle for this platform"
#endif

namespace zandrel::fs {

class Overlay;

struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Unknown: something may be there, but it could not be examined (no search
// permission, an I/O error); never to be taken for Missing.
enum class FileKind : quint8 { Missing, File, Folder, Link, Other, Unknown };

// The system's reason for a failure (errno on Linux), as people read it.
QString ErrorText(int error);

// The system's errors that the layer's neutral code gives or tells apart
// (the preview's overlay, the run); their numbers are the platform's.
namespace error {
extern const int kNotFound;
extern const int kNotAFolder;
extern const int kIsAFolder;
extern const int kNotEmpty;
extern const int kTooManyLinks;
extern const int kAccessDenied;
extern const int kIoError;
extern const int kReplaced;   // another file stands at the name now
extern const int kBadHandle;  // a folder that was never opened
// The process, or the whole system, may open no more files.
extern const int kNoDescriptor;
extern const int kNoDescriptorAnywhere;
}  // namespace error

// Whether error says that no descriptor was to be had: what a smaller batch
// may cure.
inline bool OutOfDescriptors(int error) {
    return error != 0 && (error == error::kNoDescriptor || error == error::kNoDescriptorAnywhere);
}

struct FileInfo {
    FileKind kind = FileKind::Missing;
    qint64 size = 0;
    qint64 modified = 0;      // whole seconds
    qint64 modifiedNs = 0;    // the same time to the nanosecond
    qint64 changedNs = 0;     // the last change of contents or properties
    quint32 permissions = 0;  // read, write and execute for owner, group and others
    bool ownerWritable = false;
    FileIdentity identity;
    int error = 0;  // why it is Missing or Unknown
    bool exists() const { return kind != FileKind::Missing && kind != FileKind::Unknown; }
    bool examined() const { return kind != FileKind::Unknown; }
};

// The outcome of one change on the disk: done, or the system's error.
struct Status {
    int error = 0;
    bool ok() const { return error == 0; }
    explicit operator bool() const { return ok(); }
};

// What is at path, as named.
FileInfo InfoAt(const QByteArray& path, bool followLink = true, Overlay* overlay = nullptr);

// One entry of a folder as it was read: the kind where the file system tells
// it, otherwise examined (Unknown when that failed).
using EntryVisit = std::function<void(const char* name, std::size_t size, FileKind kind)>;

// An open file or folder of the platform (a descriptor on Linux); closes
// once.
class Handle {
  public:
    Handle() = default;
    explicit Handle(NativeHandle native) : native_(native) {}
    Handle(Handle&& other) noexcept : native_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    bool valid() const { return native_ != kNoHandle; }
    NativeHandle native() const { return native_; }
    void reset(NativeHandle native = kNoHandle);
    NativeHandle release() {
        const NativeHandle n = native_;
        native_ = kNoHandle;
        return n;
    }

  private:
    NativeHandle native_ = kNoHandle;
};

// An open folder. Names given to its functions are single entries of it
// (no "/"); "." and ".." name the folder itself and its parent.
//
// A folder reached through an Overlay answers from the disk as the overlay's
// effects have left it, and records effects there instead of making them:
// the preview runs the run's own code over it. Such a folder may exist only
// in the overlay (virtual).
class Folder {
  public:
    Folder() = default;
    // An open folder of the platform's, on the disk; openError: why handle
    // is not valid.
    explicit Folder(Handle handle, int openError = 0)
        : handle_(std::move(handle)), openError_(openError) {}
    // The folder as the user named it: links on the way are followed.
    static Folder openAsNamed(const QByteArray& path, Overlay* overlay = nullptr);

    bool valid() const { return handle_.valid() || virtual_; }
    const Handle& handle() const { return handle_; }
    // Why it is not valid: the system's error when it was opened.
    int openError() const { return openError_; }
    Overlay* overlay() const { return overlay_; }
    bool isVirtual() const { return virtual_; }
    // The folder's own identity, looked at once.
    FileIdentity identity() const;

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

    // Reads every entry but "." and ".." to the end of the folder. 0 when the
    // whole folder was read; otherwise the system's error, and the entries
    // visited so far are not all there is.
    int readEntries(const EntryVisit& visit) const;

    // Deletes the file or link at name, but only while name still stands for
    // expected (a thing swapped in meanwhile is kept).
    Status deleteFile(const char* name, const FileIdentity& expected) const;
    // Removes the empty sub-folder name (never a link to one).
    Status removeFolder(const char* name) const;

  private:
    friend class FolderCursor;
    friend class Overlay;
    Folder(Handle handle, int openError, Overlay* overlay)
        : handle_(std::move(handle)), openError_(openError), overlay_(overlay) {}

    Handle handle_;
    int openError_ = 0;
    Overlay* overlay_ = nullptr;
    bool virtual_ = false;
    mutable bool identityKnown_ = false;
    mutable FileIdentity identity_;
};

// Whether this process may act on anything whatever its permissions (root).
// Known once; ForgetPrivilege() makes it asked again (a test that changes the
// process's user).
bool IsPrivileged();
void ForgetPrivilege();

// Whether this process may add and remove entries in the folder, and, with
// name, delete that entry (a sticky folder), judged without writing: 0, or
// the system's error the change would meet.
int WriteAccess(const Folder& folder, const char* name = nullptr);

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
    int lastError() const { return lastError_; }

    // Folders made without full access for their owner get it while files
    // go in; this gives them their own permissions at last, and the
    // modification times of the folders they mirror.
    void finish();

  private:
    void finishOnDisk();
    Handle makeFolder(NativeHandle at, const char* name, const QByteArray& path,
                      const MirrorOf& mirrorOf);

    struct Fixup {
        QByteArray path;
        bool setPermissions;  // whether they differ from those during the run
        quint32 permissions;
        qint64 accessedNs;
        qint64 modifiedNs;
    };
    // The normalised path from pos on, below from (the root or the latest
    // folder): through the overlay, or on the disk (the platform's).
    const Folder* reachInOverlay(const QByteArray& path, qsizetype pos, const Folder& from,
                                 const MirrorOf* mirrorOf);
    const Folder* reachOnDisk(const QByteArray& path, qsizetype pos, const Folder& from,
                              const MirrorOf* mirrorOf);
    Folder root_;
    Folder current_;
    QByteArray currentPath_;  // normalised, relative to the root
    QList<Fixup> fixups_;
    bool lastMissing_ = false;
    int lastError_ = 0;
};

// Whether the folder at path looks writable to this process, or, when it is
// missing, whether its nearest existing folder does (nothing is written).
bool LooksWritable(const QByteArray& path, Overlay* overlay = nullptr);

// Identities that no file on the disk has: things only an overlay made.
inline constexpr quint64 kVirtualDevice = ~quint64(0);
inline bool IsVirtual(const FileIdentity& id) {
    return id.device == kVirtualDevice;
}

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
    NameTaken,           // a name decided free was taken before the copy could have it
    DestinationChanged,  // the file decided to be replaced changed or went meanwhile
    Clash,               // the name is one this run gave another copy (letter case ignored)
    Discarded,           // the run was aborted before the copy was named
    VerifyFailed,        // read back from the disk, the copy was not what the source gave
    FlushFailed,         // the flush that was to put it on the disk failed
};

// A copy's result with the system's error behind it. Made from a result
// right after the call that failed, it takes that call's error.
struct CopyOutcome {
    CopyResult result = CopyResult::Copied;
    int error = 0;
    CopyOutcome() = default;
    CopyOutcome(CopyResult r);  // NOLINT: a result converts, taking errno
    CopyOutcome(CopyResult r, int e) : result(r), error(e) {}
    bool ok() const { return result == CopyResult::Copied; }
    friend bool operator==(const CopyOutcome& o, CopyResult r) { return o.result == r; }
    // Why it failed, as people read it.
    QString reason() const;
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
    quint32 links = 1;  // names of the file
};

// Opens name in folder for reading without ever blocking (a FIFO or device
// is not read) and never through a link. 0, or the system's error.
int OpenSource(const Folder& folder, const char* name, SourceFile& source);
// OpenSource on the disk alone, whatever overlay the folder was reached
// through.
int OpenSourceOnDisk(const Folder& folder, const char* name, SourceFile& source);
// Whether the open source is still as the copy read it (size, modification
// and change time, through the open file).
bool SourceUnchanged(const SourceFile& source);
// Whether the Move source at name is still the file decided on, as it was
// copied: through the open file when there is one, else by name.
bool StillAsDecided(const Folder& folder, const char* name, const SourceFile& source,
                    const FileInfo& decided);
// Takes the open source as it is now as the state SourceUnchanged compares
// with (after the run itself changed another name of it).
bool Restamp(SourceFile& source);

// Called once per block of this size with the bytes done and the total;
// returning false stops the copy.
inline constexpr qint64 kBlockSize = 4096;
using BlockProgress = std::function<bool(qint64 done, qint64 total)>;

class Batch;
struct WaitingCopy;

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
    // With a batch the finished copy waits there, unnamed, for its commit;
    // ticket tells its outcome there.
    Batch* batch = nullptr;
    int ticket = 0;
    // Read the copy back from the disk once it is flushed (its cached pages
    // dropped first) and compare it with what was read from the source; a
    // copy that differs never takes the name (VerifyFailed).
    bool verify = false;
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
CopyOutcome CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                           const BlockProgress& progress, FileIdentity* placed = nullptr);

// Copies the link name of folder as a link with the same text (never read
// or followed), with its time, and its owner when the run may give it one,
// into a new link that then takes the request's name. seen is the link as
// decided: a link changed meanwhile is not copied.
CopyOutcome CopyLink(const Folder& folder, const char* name, const FileInfo& seen,
                     const CopyRequest& request, FileIdentity* placed = nullptr);

// Gives the request's name to the copy at fromName in from, another name of
// the same source file: a hard link, as `cp -a` makes one, which takes its
// name as a copy would (see Batch) and at once. Only the copy expected (as it
// was placed) is linked to; anything else there fails, and the caller copies
// the file on its own instead.
CopyOutcome LinkToCopy(const Folder& from, const char* fromName, const FileIdentity& expected,
                       const CopyRequest& request, const FileIdentity* source,
                       FileIdentity* placed = nullptr);

// Batch.h: copies made durable before they take their names.

// Puts an empty file at the name, replacing what is there (not the source
// itself, not a folder), a replica of request.model as CopyFileBlocks makes
// one.
CopyOutcome PutEmptyFile(const CopyRequest& request, const FileIdentity* source,
                         FileIdentity* placed = nullptr);

// Writes a probe file under a name that is not there yet (never touching a
// file that was there before) and removes it again, calling beforeRemoving
// in between; false when it could not be written.
bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving = {},
                Overlay* overlay = nullptr);

// A new file in a folder that takes its name only when complete and on the
// disk: made with no name where the file system allows it, else under a
// fresh hidden name created exclusively; neither follows a link, and an
// entry planted at a hidden name only costs another name. The rename is left
// to the caller, so that several files can be complete before any is
// replaced (the log files).
class NewFile {
  public:
    explicit NewFile(const Folder& folder) : folder_(folder) {}
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { discard(); }

    bool create();
    bool write(QByteArrayView bytes);
    // On the disk and closed, under a hidden name.
    bool finish();
    bool renameTo(const char* name);

  private:
    bool withHiddenName(const std::function<bool(const char*)>& make);
    void discard();

    const Folder& folder_;
    Handle handle_;
    QByteArray hidden_;
    FileIdentity identity_;
    bool ok_ = true;
};

// A regular file opened for reading, never blocking (a FIFO given by mistake
// is refused, not waited on).
class ReadOnlyFile {
  public:
    // 0, or the system's error; a file that is not a regular one is refused
    // as an invalid argument.
    int open(const QByteArray& path);
    qint64 size() const { return size_; }
    // The bytes read into buffer (0 at the end), or -1.
    qint64 read(char* buffer, qint64 length);
    bool rewind();

  private:
    Handle handle_;
    qint64 size_ = 0;
};

// Creates every missing folder of path (as "mkdir -p" would).
void MakeFolderPath(const QByteArray& path, Overlay* overlay = nullptr);

// The file-creation mask applied to these permissions.
quint32 Masked(quint32 permissions);

// The step in which the file system of folder keeps modification times, in
// nanoseconds: 2 s on FAT, 1 s on exFAT, 1 ns on most Linux file systems.
// Two times within one step cannot be told apart there.
qint64 TimeResolution(const Folder& folder);

// Whether the folder's file system takes names that differ only in letter
// case for one name (FAT, exFAT, case-folding folders). Learnt from the disk
// (its type, the device under a FUSE mount); where neither tells, mayProbe
// lets it make a hidden name of its own, look it up in the other case and
// remove it; without, names already there are the only hint.
bool IgnoresCase(const Folder& folder, bool mayProbe = false);

// Whether the folder's file system keeps a file's inode number while no
// handle to it is open: FAT, exFAT and FUSE number files afresh once the
// kernel lets go of them, and a file system not known to keep them is taken
// not to.
bool KeepsInodeNumbers(const Folder& folder);

// 0 when a link can be put in the folder, else the system's error that
// making one there meets (FAT and exFAT hold no links). Known without
// writing, so that a preview foretells it.
int LinksRefused(const Folder& folder);

}  // namespace zandrel::fs
