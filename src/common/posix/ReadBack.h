#pragma once
// Reading a flushed copy back from the device on Linux, to compare it with
// what the copy read from its source.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/Checksum.h"
#include "common/FileSystem.h"

namespace zandrel::fs::readback {

// Drops the copy's cached pages (clean once flushed), so that what follows
// reads the device, not memory; then asks the device for the next bytes at
// once, so that a batch of small copies waits for it once rather than file
// after file.
void Prepare(int fd, qint64 from, qint64 size);

// Reads the rest of the copy at fd after what partial has read, through a
// descriptor of its own: Copied when
// it holds size bytes with the checksum expected; VerifyFailed (with the
// system's error when a read failed) when not; Discarded when stop became
// true meanwhile.
CopyOutcome Compare(int fd, qint64 size, const Checksum::Value& expected,
                    const std::atomic<bool>& stop, ReadBackSoFar partial = {});

// Writes size bytes of in over the copy at out once more: Copied when the
// source gave the bytes of expected again, SourceChanged when not.
CopyOutcome CopyAgain(int in, int out, qint64 size, const Checksum::Value& expected);

// Reads a long copy back while it is still being written, on a thread of its
// own, so that the reading overlaps the writing: each piece once it has been
// written to the device. What is left is read after the batch's flush, from
// where this stopped.
class Follower {
  public:
    static constexpr qint64 kPiece = qint64(32) << 20;

    explicit Follower(int fd);
    ~Follower();
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // The bytes written so far.
    void written(qint64 upTo);
    // Stops, and gives what was read back; a read that failed or differed
    // is told as the outcome.
    ReadBackSoFar finish(CopyOutcome& outcome);

  private:
    void follow();

    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    qint64 written_ = 0;  // under the mutex
    bool stopping_ = false;
    ReadBackSoFar read_;  // the thread's until it is joined
    CopyOutcome outcome_;
    std::thread thread_;
};

}  // namespace zandrel::fs::readback
