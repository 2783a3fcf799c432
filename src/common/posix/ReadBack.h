#pragma once
// Reading a flushed copy back from the device on Linux, to compare it with
// what the copy read from its source.

#include <atomic>

#include "common/Checksum.h"
#include "common/FileSystem.h"

namespace zandrel::fs::readback {

// Drops the copy's cached pages (clean once flushed), so that what follows
// reads the device, not memory; then asks the device for the start of the
// copy at once, so that a batch of small copies waits for it once rather
// than file after file.
void Prepare(int fd, qint64 size);

// Reads the copy at fd whole: Copied when it holds size bytes with the
// checksum expected; VerifyFailed (with the system's error when the read
// failed) when not; Discarded when stop became true meanwhile.
CopyOutcome Compare(int fd, qint64 size, const Checksum::Value& expected,
                    const std::atomic<bool>& stop);

}  // namespace zandrel::fs::readback
