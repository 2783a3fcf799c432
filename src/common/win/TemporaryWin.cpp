#include "common/win/Temporary.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "common/win/TakeName.h"

namespace zandrel::fs {

namespace {

// Memory aligned for reads that pass the system's cache.
struct AlignedBuffer {
    static constexpr DWORD kSize = DWORD(1) << 20;
    void* data = ::VirtualAlloc(nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    AlignedBuffer() = default;
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    ~AlignedBuffer() {
        if (data)
            ::VirtualFree(data, 0, MEM_RELEASE);
    }
};

}  // namespace

// Hidden by its attribute as well as its name while it is written; open for
// reading too, to be read back, and for deleting, so that it is removed and
// renamed through this handle alone. Shared for deleting, so that a later
// copy of the run may replace it while the batch still holds it.
int Temporary::create() {
    win::OpenRequest request;
    request.access = GENERIC_READ | GENERIC_WRITE | DELETE;
    request.share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    request.disposition = win::kCreate;
    request.options = win::kNonDirectory;
    request.attributes = FILE_ATTRIBUTE_HIDDEN;
    int error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 10 && !file_.valid(); ++attempt) {
        const QByteArray name = naming::FreshTemporaryName(nameBytes_.constData());
        file_.reset(win::OpenAt(dir_, name, request, error));
        if (file_.valid())
            hidden_ = name;
        else if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return error;
    }
    if (!file_.valid())
        return error;
    win::Stat st;
    if ((error = win::StatOf(file_.native(), st)) != 0)
        return error;
    identity_ = win::IdentityOf(st);
    return 0;
}

bool Temporary::makeSparse() {
    DWORD returned = 0;
    return ::DeviceIoControl(file_.native(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                             nullptr) != 0;
}

void Temporary::mirror(const SourceFile* model) {
    if (!model)
        return;
    FILE_BASIC_INFO basic{};  // times of 0 are left as they are
    win::Stat st;
    if (model->handle.valid() && win::StatOf(model->handle.native(), st) == 0) {
        basic.CreationTime = st.basic.CreationTime;
        basic.LastAccessTime = st.basic.LastAccessTime;
        basic.LastWriteTime = st.basic.LastWriteTime;
        attributes_ = st.by.dwFileAttributes & win::kCopiedAttributes;
    } else if (model->modifiedNs != 0) {
        // Known by name only (an empty file that could not be opened): its
        // modification time still holds.
        basic.LastWriteTime = win::FileTime(model->modifiedNs);
    } else {
        return;
    }
    // After the last write; set through this handle, they are not changed
    // again when it closes.
    ::SetFileInformationByHandle(file_.native(), FileBasicInfo, &basic, sizeof basic);
}

CopyOutcome Temporary::commit(const FileInfo& seen, const FileIdentity* source) {
    if (!file_.valid())
        return {CopyResult::CouldNotPutInPlace, ERROR_INVALID_HANDLE};
    // The attributes it takes with the name: no longer hidden, unless its
    // source is.
    win::SetAttributes(file_.native(), attributes_);
    const CopyOutcome taken =
        naming::TakeName(dir_, file_.native(), nameBytes_.constData(), seen, source);
    if (!taken.ok())
        return taken;
    // FAT numbers a file by where its entry lies: the name may have moved it.
    win::Stat st;
    if (win::StatOf(file_.native(), st) == 0)
        identity_ = win::IdentityOf(st);
    hidden_.clear();
    file_.reset();
    readBack_.reset();
    return CopyResult::Copied;
}

CopyOutcome Temporary::takeName(const FileInfo& seen, const FileIdentity* source) {
    if (const int error = syncData())
        return {CopyResult::WriteFailed, error};
    return commit(seen, source);
}

FileIdentity Temporary::identityAtName() const {
    win::OpenRequest request;
    request.options = win::kNoReparse;
    int error = 0;
    const Handle there(win::OpenAt(dir_, nameBytes_, request, error));
    win::Stat st;
    if (!there.valid() || win::StatOf(there.native(), st) != 0)
        return {};
    return win::IdentityOf(st);
}

// Removed through its own handle: nothing else can be taken for it.
void Temporary::discard() {
    readBack_.reset();
    if (file_.valid() && !hidden_.isEmpty())
        win::DeleteByHandle(file_.native());
    file_.reset();
    hidden_.clear();
}

Handle Temporary::duplicateFolder() const {
    return win::DuplicateOf(dir_);
}

Handle Temporary::duplicate() const {
    return win::DuplicateOf(file_.native());
}

// Once per copy: a flush for the read-back and the one before the name are
// one.
int Temporary::syncData() {
    if (!synced_) {
        synced_ = true;
        syncError_ = ::FlushFileBuffers(file_.native()) ? 0 : win::LastError();
    }
    return syncError_;
}

// On the device first, then opened past the system's cache, so that what
// is read is what the device holds.
void Temporary::prepareReadBack(qint64, qint64) {
    if (syncData() != 0)
        return;
    readBack_.reset(::ReOpenFile(file_.native(), GENERIC_READ, win::kShareAll,
                                 FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN));
    if (readBack_.native() == nullptr)
        readBack_.release();
}

CopyOutcome Temporary::compareReadBack(qint64 size, const Checksum::Value& expected,
                                       const std::atomic<bool>& stop, ReadBackSoFar soFar) {
    if (syncError_ != 0)
        return {CopyResult::VerifyFailed, syncError_};
    // Unbuffered reads start on a sector: from the start, or through the
    // cache where a part was read already.
    const bool unbuffered = readBack_.valid() && soFar.done % 4096 == 0;
    return CompareReadBack(unbuffered ? readBack_.native() : file_.native(), size, expected, stop,
                           std::move(soFar));
}

CopyOutcome CompareReadBack(HANDLE file, qint64 size, const Checksum::Value& expected,
                            const std::atomic<bool>& stop, ReadBackSoFar partial) {
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file, &length))
        return {CopyResult::VerifyFailed, win::LastError()};
    if (length.QuadPart != size || partial.done > size)
        return {CopyResult::VerifyFailed, 0};
    // One per read-back: a thread's own object would be destroyed when the
    // batch's thread ends, which mingw's runtime does not survive.
    const AlignedBuffer buffer;
    if (!buffer.data)
        return {CopyResult::VerifyFailed, ERROR_NOT_ENOUGH_MEMORY};
    for (qint64 at = partial.done; at < size;) {
        if (stop.load(std::memory_order_relaxed))
            return {CopyResult::Discarded, 0};
        OVERLAPPED where{};
        where.Offset = DWORD(quint64(at) & 0xffffffffu);
        where.OffsetHigh = DWORD(quint64(at) >> 32);
        DWORD got = 0;
        // Whole pieces, also at the end: unbuffered reads take no other size.
        if (!::ReadFile(file, buffer.data, AlignedBuffer::kSize, &got, &where) &&
            ::GetLastError() != ERROR_HANDLE_EOF)
            return {CopyResult::VerifyFailed, win::LastError()};
        if (got == 0)
            return {CopyResult::VerifyFailed, 0};  // shorter than it was written
        const qint64 used = std::min<qint64>(got, size - at);
        partial.sum.add(buffer.data, std::size_t(used));
        at += used;
    }
    if (!(partial.sum.value() == expected))
        return {CopyResult::VerifyFailed, 0};
    return CopyResult::Copied;
}

}  // namespace zandrel::fs
