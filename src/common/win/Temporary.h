#pragma once
// A copy being written on Windows, and waiting for its name in a batch.

#include <memory>

#include "common/FileSystem.h"
#include "common/PendingCopy.h"
#include "common/win/Nt.h"

namespace zandrel::fs {

// The copy being written in the destination folder, under a fresh hidden
// name that only this object ever removes, through its own handle.
class Temporary final : public PendingCopy {
  public:
    Temporary(const Folder& folder, const char* name)
        : dir_(folder.handle().native()), nameBytes_(name) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    Temporary(Temporary&& other) noexcept
        : dir_(other.dir_),
          ownDir_(std::move(other.ownDir_)),
          nameBytes_(std::move(other.nameBytes_)),
          file_(std::move(other.file_)),
          readBack_(std::move(other.readBack_)),
          hidden_(std::move(other.hidden_)),
          identity_(other.identity_),
          attributes_(other.attributes_),
          synced_(other.synced_),
          syncError_(other.syncError_) {
        other.hidden_.clear();
    }
    ~Temporary() override { discard(); }

    // 0, or the system's error.
    int create();
    HANDLE handle() const { return file_.native(); }
    // Where the source is sparse, so is the copy: its runs of zeros are
    // left unwritten.
    bool makeSparse();
    // Makes the finished file a replica of model: its times at once, its
    // attributes (read-only, hidden, system) when it takes its name.
    void mirror(const SourceFile* model);
    const FileIdentity& identity() const override { return identity_; }
    // Puts the file in place at the name as decided: seen is what stood
    // there then (Missing: a free name, which is taken without replacing
    // anything); the source itself is never replaced.
    CopyOutcome commit(const FileInfo& seen, const FileIdentity* source);
    quint64 device() const override { return identity_.device; }
    FileIdentity identityAtName() const override;
    const QByteArray& name() const override { return nameBytes_; }

    // Waiting in a batch.
    void shareFolder(std::shared_ptr<const Handle> folder) override {
        dir_ = folder->native();
        ownDir_ = std::move(folder);
    }
    Handle duplicateFolder() const override;
    Handle duplicate() const override;
    int syncData() override;
    void prepareReadBack(qint64 from, qint64 size) override;
    CopyOutcome compareReadBack(qint64 size, const Checksum::Value& expected,
                                const std::atomic<bool>& stop, ReadBackSoFar soFar) override;
    // A file system's flush here covers the one file it is asked through,
    // not the others: each copy's data goes to the device before its name.
    CopyOutcome takeName(const FileInfo& seen, const FileIdentity* source) override;

  private:
    void discard();

    HANDLE dir_;
    std::shared_ptr<const Handle> ownDir_;
    QByteArray nameBytes_;
    Handle file_;
    Handle readBack_;    // the copy opened past the system's cache
    QByteArray hidden_;  // while the file carries it
    FileIdentity identity_;
    DWORD attributes_ = FILE_ATTRIBUTE_ARCHIVE;  // those it takes with its name
    bool synced_ = false;
    int syncError_ = 0;
};

// Reading a flushed copy back from the device, to compare it with what the
// copy read from its source: from the bytes partial has read on, size bytes
// with the checksum expected; Discarded when stop became true meanwhile.
CopyOutcome CompareReadBack(HANDLE file, qint64 size, const Checksum::Value& expected,
                            const std::atomic<bool>& stop, ReadBackSoFar partial);

}  // namespace zandrel::fs
