#pragma once
// A copy being written on Linux, and waiting for its name in a batch.

#include <sys/stat.h>

#include <memory>

#include "common/FileSystem.h"
#include "common/PendingCopy.h"

namespace zandrel::fs {

// The copy being written in the destination folder. Where the file system
// allows it has no name (O_TMPFILE) until complete, so a killed run leaves
// nothing; otherwise it carries a fresh hidden name that only this object
// ever removes.
class Temporary final : public PendingCopy {
  public:
    Temporary(const Folder& folder, const char* name)
        : dir_(folder.handle().native()), nameBytes_(name), name_(nameBytes_.constData()) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    Temporary(Temporary&& other) noexcept
        : dir_(other.dir_),
          ownDir_(std::move(other.ownDir_)),
          nameBytes_(std::move(other.nameBytes_)),
          name_(nameBytes_.constData()),
          fd_(std::move(other.fd_)),
          hidden_(std::move(other.hidden_)),
          identity_(other.identity_),
          made_(other.made_),
          createdNamed_(other.createdNamed_) {
        times_[0] = other.times_[0];
        times_[1] = other.times_[1];
        other.hidden_.clear();
    }
    ~Temporary() override { discard(); }

    bool create(quint32 permissions);
    int fd() const { return fd_.native(); }
    // Makes the finished file a replica of model (see CopyFileBlocks) with
    // these permissions before the file-creation mask; without a model it
    // gets the permissions only.
    // inherits: whether the folder may have given it an ACL of its own.
    void mirror(const SourceFile* model, quint32 permissions, bool inherits = true);
    const FileIdentity& identity() const override { return identity_; }
    // Puts the file in place at the name as decided: seen is what stood
    // there then (Missing: a free name, which is taken without replacing
    // anything); the source itself is never replaced.
    CopyOutcome commit(const FileInfo& seen, const FileIdentity* source);
    quint64 device() const override { return quint64(made_.st_dev); }
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
    CopyOutcome copyAgain(const Handle& from, qint64 size, const Checksum::Value& expected,
                          const std::atomic<bool>& stop) override;
    CopyOutcome takeName(const FileInfo& seen, const FileIdentity* source) override {
        return commit(seen, source);
    }

  private:
    bool createNamed();
    QByteArray freshName(int attempt) const;
    bool linkAs(const char* name);
    CopyResult renamed();
    void discard();
    int dir() const { return dir_; }
    void unlinkIfMine(const char* name);

    int dir_;
    std::shared_ptr<const Handle> ownDir_;
    QByteArray nameBytes_;
    const char* name_;
    Handle fd_;
    QByteArray hidden_;  // the hidden name while the file carries one
    FileIdentity identity_;
    struct stat made_ {};
    bool createdNamed_ = false;
    struct timespec times_[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
};

}  // namespace zandrel::fs
