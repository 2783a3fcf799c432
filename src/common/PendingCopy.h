#pragma once
// What a batch asks of the platform: a finished copy waiting for its name,
// and the few calls that make copies durable. The batch decides when; these
// do it.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "common/Checksum.h"
#include "common/FileSystem.h"

namespace zandrel::fs {

// A complete copy with no name yet (or a hidden one), held open.
class PendingCopy {
  public:
    virtual ~PendingCopy() = default;

    virtual const QByteArray& name() const = 0;
    virtual const FileIdentity& identity() const = 0;
    virtual quint64 device() const = 0;
    // Its folder, from now on through this handle shared with the other
    // copies waiting there, so that it may wait after the caller's is closed.
    virtual void shareFolder(std::shared_ptr<const Handle> folder) = 0;
    virtual Handle duplicateFolder() const = 0;
    // Another handle of the copy itself: one opened before its writes
    // reports, when its file system is flushed, those that failed.
    virtual Handle duplicate() const = 0;
    // 0, or why its data could not be put on the device.
    virtual int syncData() = 0;
    // Reading it back from the device: first every copy of a batch is
    // prepared (its cached pages dropped, the device asked for the rest),
    // then each compared: size bytes with the checksum expected.
    virtual void prepareReadBack(qint64 from, qint64 size) = 0;
    virtual CopyOutcome compareReadBack(qint64 size, const Checksum::Value& expected,
                                        const std::atomic<bool>& stop, ReadBackSoFar soFar) = 0;
    // A copy that read back wrong, written once more from its source (open
    // at from), flushed and read back again; SourceChanged when the source
    // no longer gives what the first copy read. Where the platform cannot,
    // the first answer stands.
    virtual CopyOutcome copyAgain(const Handle& /*from*/, qint64 /*size*/,
                                  const Checksum::Value& /*expected*/,
                                  const std::atomic<bool>& /*stop*/) {
        return {CopyResult::VerifyFailed, 0};
    }
    // Takes its name exactly as decided (see Batch).
    virtual CopyOutcome takeName(const FileInfo& seen, const FileIdentity* source) = 0;
    // What stands at its name now (nothing: a zero identity).
    virtual FileIdentity identityAtName() const = 0;
};

// A finished copy as the platform's copy hands it back, to wait in a batch:
// the file, what it was copied from (the source's identity and facts, its
// times among them), its size, and when it is to be read back, the
// checksum of what was read from the source and what was read back of it
// already.
struct WaitingCopy {
    std::unique_ptr<PendingCopy> file;
    FileIdentity source;
    FileInfo like;
    qint64 size = 0;
    bool verify = false;
    Checksum::Value sum;
    ReadBackSoFar readSoFar;

    // A copy of source's bytes; sum when it is to be read back.
    static WaitingCopy Copied(std::unique_ptr<PendingCopy> file, const SourceFile& source,
                              qint64 size, const Checksum* sum, ReadBackSoFar readSoFar) {
        return {std::move(file),     source.info.identity,
                source.info,         size,
                sum != nullptr,      sum ? sum->value() : Checksum::Value(),
                std::move(readSoFar)};
    }
    // An empty file made for source, like request.model.
    static WaitingCopy Empty(std::unique_ptr<PendingCopy> file, const FileIdentity* source,
                             const CopyRequest& request) {
        return {std::move(file),
                source ? *source : FileIdentity(),
                request.model ? request.model->info : FileInfo(),
                0,
                request.verify,
                Checksum().value(),
                {}};
    }
};

namespace disk {

// 0, or why the file system of handle could not be flushed.
int FlushFileSystem(const Handle& handle);
// Another handle to what handle holds; not valid when none could be had.
Handle Duplicate(const Handle& handle);
// A handle through which the folder's file system can be flushed: the folder
// opened for reading, else a new unnamed file in it; error says why not.
Handle FlusherIn(const Folder& folder, int& error);
// How many handles a batch may hold open at once.
int HandleBudget();
// The system's error of the call that has just failed on this thread.
int LastError();
// Starts work on a thread that the stop signals never reach (they belong to
// the run's thread); false when no thread could be had.
bool StartQuietThread(std::thread& thread, std::function<void()> work);

}  // namespace disk

// The error of a Move source's delete that was not tried because the file
// changed after it was copied.
inline constexpr int kChangedSinceCopied = -1;

}  // namespace zandrel::fs
