// Copying a file's data on Windows: read and written through handles in
// large pieces, a sparse source's runs of zeros left unwritten, into a copy
// that waits for its name.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>

#include "common/Checksum.h"
#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/win/Nt.h"
#include "common/win/Temporary.h"

namespace zandrel::fs {

namespace {

OVERLAPPED At(qint64 offset) {
    OVERLAPPED where{};
    where.Offset = DWORD(quint64(offset) & 0xffffffffu);
    where.OffsetHigh = DWORD(quint64(offset) >> 32);
    return where;
}

// Reads up to length bytes at offset: the bytes read (0 at the end), or -1.
qint64 ReadAt(HANDLE file, char* buffer, DWORD length, qint64 offset) {
    OVERLAPPED where = At(offset);
    DWORD got = 0;
    if (::ReadFile(file, buffer, length, &got, &where))
        return got;
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

bool WriteAt(HANDLE file, const char* buffer, qint64 length, qint64 offset) {
    for (qint64 put = 0; put < length;) {
        OVERLAPPED where = At(offset + put);
        DWORD n = 0;
        if (!::WriteFile(file, buffer + put, DWORD(length - put), &n, &where) || n == 0)
            return false;
        put += n;
    }
    return true;
}

bool AllZeros(const char* data, qint64 length) {
    return length > 0 && data[0] == 0 && std::memcmp(data, data + 1, std::size_t(length - 1)) == 0;
}

void Stamp(const win::Stat& st, SourceFile& source) {
    source.modifiedNs = win::Nanoseconds(st.basic.LastWriteTime);
    source.changedNs = win::Nanoseconds(st.basic.ChangeTime);
    source.accessedNs = win::Nanoseconds(st.basic.LastAccessTime);
    source.allocated = source.info.size;
    // Only a sparse file has holes; the layer learns that from its
    // storage being less than its length.
    FILE_STANDARD_INFO standard{};
    if ((st.by.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) &&
        ::GetFileInformationByHandleEx(source.handle.native(), FileStandardInfo, &standard,
                                       sizeof standard))
        source.allocated = std::min<qint64>(standard.AllocationSize.QuadPart, source.info.size);
    source.owner = 0;
    source.group = 0;
    source.links = st.by.nNumberOfLinks;
}

bool Unchanged(const win::Stat& now, const SourceFile& source) {
    const FileInfo info = win::InfoOf(now);
    return info.size == source.info.size && info.modifiedNs == source.modifiedNs &&
           info.changedNs == source.changedNs;
}

}  // namespace

// ---------------------------------------------------------------------------
// Source files and the block copy

int OpenSourceOnDisk(const Folder& folder, const char* name, SourceFile& source) {
    source = SourceFile();
    if (!folder.valid())
        return ERROR_INVALID_HANDLE;
    // Others may go on reading, writing (the copy then fails as changed) and
    // renaming it meanwhile.
    win::OpenRequest request;
    request.access = GENERIC_READ;
    request.options = win::kSequentialOnly;
    int error = 0;
    source.handle.reset(win::OpenNoLink(folder.handle().native(), name, request, error));
    if (!source.handle.valid())
        return error;
    win::Stat st;
    if ((error = win::StatOf(source.handle.native(), st)) != 0)
        return error;
    // A link is copied as a link, never opened.
    if (win::KindOf(st) == FileKind::Link) {
        source.handle.reset();
        return error::kTooManyLinks;
    }
    source.info = win::InfoOf(st);
    source.nameIdentity = source.info.identity;
    Stamp(st, source);
    return 0;
}

bool Restamp(SourceFile& source) {
    if (IsVirtual(source.info.identity))
        return true;
    win::Stat now;
    if (!source.handle.valid() || win::StatOf(source.handle.native(), now) != 0)
        return false;
    source.info = win::InfoOf(now);
    Stamp(now, source);
    return true;
}

bool SourceUnchanged(const SourceFile& source) {
    if (IsVirtual(source.info.identity))
        return true;
    win::Stat now;
    return source.handle.valid() && win::StatOf(source.handle.native(), now) == 0 &&
           Unchanged(now, source);
}

bool StillAsDecided(const Folder& folder, const char* name, const SourceFile& source,
                    const FileInfo& decided) {
    if (source.handle.valid())
        return SourceUnchanged(source);
    const FileInfo now = folder.info(name, false);
    return now.identity == decided.identity && now.size == decided.size &&
           now.modifiedNs == decided.modifiedNs && now.changedNs == decided.changedNs;
}

namespace disk {

CopyOutcome CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                           const BlockProgress& progress, FileIdentity* placed,
                           WaitingCopy* waiting) {
    if (!source.handle.valid() || source.info.kind != FileKind::File)
        return CopyResult::NotARegularFile;
    // Both names may lead to the one file; never replace it by itself (a
    // destination not looked at is checked when the copy is put in place).
    if (request.seen.exists() && request.seen.identity == source.info.identity)
        return CopyResult::SameFile;
    const HANDLE in = source.handle.native();
    Temporary out(*request.destination, request.name);
    if (const int error = out.create())
        return {CopyResult::WriteFailed, error};

    // The caller sees blocks of kBlockSize whatever size the chunks have.
    const qint64 length = source.info.size;
    qint64 shown = 0;
    const auto showBlocks = [&](qint64 upTo, bool final) {
        while (upTo - shown >= kBlockSize || (final && upTo > shown)) {
            shown += std::min(kBlockSize, upTo - shown);
            if (!progress(shown, std::max(length, shown)))
                return false;
        }
        return true;
    };

    // Holes stay holes, so sparse files stay small; other copies get their
    // room at once, in one piece where the disk has one.
    const bool sparse = source.allocated < length && out.makeSparse();
    if (!sparse && length > (qint64(1) << 20)) {
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = length;
        ::SetFileInformationByHandle(out.handle(), FileAllocationInfo, &room, sizeof room);
    }

    std::optional<Checksum> sum;
    if (request.verify)
        sum.emplace();
    // As large as the file needs, up to a chunk: most files are small.
    const DWORD chunk =
        DWORD(std::min<qint64>(qint64(1) << 20, std::max<qint64>(length, 4096) + 1));
    const auto buffer = std::make_unique_for_overwrite<char[]>(chunk);
    qint64 position = 0;  // bytes of the source dealt with
    qint64 dataEnd = 0;   // end of the last bytes written
    for (;;) {
        // One byte more than is left: a shorter answer ending at the length
        // is the end of the file, without another call to find it (a file
        // grown meanwhile fails the check below).
        const DWORD ask =
            position < length ? DWORD(std::min<qint64>(chunk, length - position + 1)) : chunk;
        const qint64 got = ReadAt(in, buffer.get(), ask, position);
        if (got < 0)
            return CopyResult::ReadFailed;
        if (got == 0)
            break;  // read to the end, whatever the length was before
        if (sum)
            sum->add(buffer.get(), std::size_t(got));
        if (!(sparse && AllZeros(buffer.get(), got))) {
            if (!WriteAt(out.handle(), buffer.get(), got, position))
                return CopyResult::WriteFailed;
            dataEnd = position + got;
        }
        position += got;
        if (!showBlocks(position, false))
            return CopyResult::Aborted;
        if (DWORD(got) < ask && position == length)
            break;
    }
    if (!showBlocks(position, true))
        return CopyResult::Aborted;
    // A source written to while it was read gives a copy that is neither the
    // old file nor the new one: fail it, so a Move keeps the source.
    win::Stat after;
    if (win::StatOf(in, after) != 0 || !Unchanged(after, source) ||
        win::InfoOf(after).size != position)
        return CopyResult::SourceChanged;
    if (dataEnd < position) {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = position;
        if (!::SetFileInformationByHandle(out.handle(), FileEndOfFileInfo, &end, sizeof end))
            return CopyResult::WriteFailed;
    }
    out.mirror(&source);
    if (placed)
        *placed = out.identity();
    if (waiting) {
        *waiting = WaitingCopy::Copied(std::make_unique<Temporary>(std::move(out)), source,
                                       position, sum ? &*sum : nullptr, {});
        return CopyResult::Copied;
    }
    if (sum) {
        if (const int error = out.syncData())
            return {CopyResult::WriteFailed, error};
        out.prepareReadBack(0, position);
        static const std::atomic<bool> never{false};
        if (const CopyOutcome read = out.compareReadBack(position, sum->value(), never, {});
            !read.ok())
            return read;
    }
    return out.commit(request.seen, &source.info.identity);
}

CopyOutcome PutEmptyFile(const CopyRequest& request, const FileIdentity* source,
                         FileIdentity* placed, WaitingCopy* waiting) {
    if (request.seen.exists() && source && request.seen.identity == *source)
        return CopyResult::SameFile;
    Temporary out(*request.destination, request.name);
    if (const int error = out.create())
        return {CopyResult::WriteFailed, error};
    out.mirror(request.model);
    if (placed)
        *placed = out.identity();
    if (waiting) {
        *waiting = WaitingCopy::Empty(std::make_unique<Temporary>(std::move(out)), source, request);
        return CopyResult::Copied;
    }
    return out.commit(request.seen, source);
}

}  // namespace disk

}  // namespace zandrel::fs
