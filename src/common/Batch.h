#pragma once
// Batches of copies: what makes a run durable without a flush per file. The
// bookkeeping and the order of the work are here; what touches the disk is
// the platform's (PendingCopy.h).

#include <QByteArrayView>
#include <QHash>

#include <cstddef>
#include <memory>

#include "common/Checksum.h"
#include "common/FileSystem.h"
#include "common/PendingCopy.h"

namespace zandrel::fs {

// Copies kept unnamed until their data is on the disk, and Move sources
// kept until their copies' names are: a power cut never leaves a short file
// under a real name, nor a moved file only in its source's deleted blocks.
// commit() hands the work to a thread of its own while the next copies are
// made: it flushes the copies' file systems once (through a descriptor of a
// copy, which also reports the writes that failed; Windows flushes a file,
// not its file system, so there each copy is flushed on its own before its
// name, and the names once through the log), reads back the copies to
// be verified, names each copy exactly
// as decided (a free name without replacing anything, a replaced file only
// while it is the one decided on), flushes the names, then deletes the Move
// sources, each only while it is the file copied and unchanged. A flush that
// fails fails the copies it was to make durable. The run's thread never
// waits for the work: it asks idle() and takes the outcomes when done.
class Batch {
  public:
    Batch();
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Enough to flush: files (a Move's file counts twice) or bytes, and no
    // more descriptors than the process may still open.
    static constexpr std::size_t kMaxFiles = 2000;
    static constexpr qint64 kMaxBytes = qint64(256) << 20;
    // Nothing gathered and no work under way.
    bool empty() const;
    // Enough to commit once the work before is done; while that work still
    // flushes, a batch may grow to kGrowth times as much, so that a fast
    // copy is not held up by flushes (nor by descriptors).
    static constexpr int kGrowth = 2;
    bool full() const;
    bool overfull() const;

    // A finished copy, unnamed, to wait for the commit that names it as
    // request decided (request.ticket tells its outcome).
    CopyOutcome add(const CopyRequest& request, WaitingCopy&& copy);
    // A copy waiting at name in the folder of that identity: what later
    // decisions must see there.
    const FileInfo* pending(const FileIdentity& folder, QByteArrayView name) const;
    // The source of a Move, deleted once the copy of ticket is named and on
    // the disk; decided is the file as it was decided on. 0, or why the
    // batch could not hold it (no descriptor to be had).
    int deleteAfter(int ticket, const Folder& folder, const char* name, SourceFile&& source,
                    const FileInfo& decided);
    // What a copy into destination will need of the batch, taken before it
    // is written: 0, or the system's error (no descriptor to be had).
    int reserve(const Folder& destination);
    // Whether the batch may hold more descriptors without leaving the run
    // too few for its own work: when not, it is committed, and waited for,
    // before the next file (down to one file at a time).
    bool roomFor(int more) const;
    // What one file may take of the batch: a folder, a flusher, the copy,
    // and a Move's source with its folder and flusher.
    static constexpr int kDescriptorsPerFile = 6;
    // A link that took its name at once in folder: its name is flushed with
    // the batch's, and ticket fails when that flush does.
    void namedAt(int ticket, const Folder& folder);
    // Whether a copy or a delete waits at name in the folder of that
    // identity, here or in the work under way; whether a delete does.
    bool touches(const FileIdentity& folder, QByteArrayView name) const;
    bool deletes(const FileIdentity& folder, QByteArrayView name) const;

    struct Outcome {
        CopyOutcome copy;
        bool deleteTried = false;
        bool changed = false;        // the source changed after it was copied
        bool deleteDropped = false;  // an abort kept the source of a copy that was named
        bool verified = false;       // read back from the disk and found as the source gave it
        bool copiedAgain = false;    // read back wrong at first, and copied once more
        Status deleted;
    };
    // Durable: the names are on the disk when the work is done; MayWait: a
    // batch without Move sources may leave its names to the next flush (its
    // outcomes come once they are flushed).
    enum class Names { Durable, MayWait };
    // Hands what was gathered to the work; the work before must be done.
    void commit(Names names = Names::Durable);
    // Whether no work is under way; waitFor waits up to milliseconds for it.
    bool idle() const;
    bool waitFor(int milliseconds) const;
    // Flushes done since the batch began: one that does not move for long
    // is a disk that does not answer.
    int flushesDone() const;
    // The outcomes known so far, once the work is done (empty while it is
    // not); each is given once.
    QHash<int, Outcome> take();
    // Waits for the work, and gives what take() would.
    QHash<int, Outcome> finish();

    // An abort: hold() stops the work before its next name, resume() lets it
    // go on, discard() drops every copy not yet named, those gathered too
    // (their outcome Discarded, their Move sources kept).
    void hold();
    void resume();
    void discard();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::fs
