#include <QRandomGenerator>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/win/TakeName.h"

namespace zandrel::fs::naming {

// Random hidden names for copies being written: made fresh for every
// attempt, so no file of the user's is ever taken for one.
constexpr char kTemporarySuffix[] = ".zandrel-part";

QByteArray FreshTemporaryName(const char* name) {
    static std::atomic<quint64> counter{0};
    const quint64 n = counter.fetch_add(1, std::memory_order_relaxed);
    char random[40];
    std::snprintf(random, sizeof random, ".%08x%04llx", QRandomGenerator::system()->generate(),
                  static_cast<unsigned long long>(n & 0xffff));
    // A name holds at most 255 UTF-16 units; the name's own part is cut
    // between characters, never inside one.
    constexpr qsizetype kNameMax = 255;
    const qsizetype extra =
        1 + qsizetype(std::strlen(random)) + qsizetype(sizeof kTemporarySuffix) - 1;
    QString base = QString::fromUtf8(name);
    if (base.size() + extra > kNameMax) {
        base.truncate(kNameMax - extra);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    QByteArray result = '.' + base.toUtf8();
    result.append(random).append(kTemporarySuffix);
    return result;
}

namespace {

bool Taken(int error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

CopyOutcome TakeFree(HANDLE dir, HANDLE file, const char* name) {
    const int error = win::RenameByHandle(file, dir, name, false);
    if (error == 0)
        return CopyResult::Copied;
    if (Taken(error))
        return {CopyResult::NameTaken, 0};
    return {CopyResult::CouldNotPutInPlace, error};
}

}  // namespace

bool StillSeen(const win::Stat& there, const FileInfo& seen) {
    const FileInfo now = win::InfoOf(there);
    return now.identity == seen.identity && now.size == seen.size &&
           now.modifiedNs == seen.modifiedNs;
}

CopyOutcome TakeName(HANDLE dir, HANDLE file, const char* name, const FileInfo& seen,
                     const FileIdentity* source) {
    if (!seen.exists())
        return TakeFree(dir, file, name);
    // Held so that nobody writes to it or moves it between the look and the
    // replacing.
    win::OpenRequest request;
    request.access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    request.share = FILE_SHARE_READ;
    int error = 0;
    Handle there(win::OpenNoLink(dir, name, request, error));
    if (!there.valid() && error == ERROR_ACCESS_DENIED) {
        request.access = DELETE | FILE_READ_ATTRIBUTES;
        there.reset(win::OpenNoLink(dir, name, request, error));
    }
    // A copy this run named before, whose handle the batch still holds for
    // writing: the look at it below must do.
    if (!there.valid() && error == ERROR_SHARING_VIOLATION) {
        request.share = win::kShareAll;
        there.reset(win::OpenNoLink(dir, name, request, error));
    }
    if (!there.valid()) {
        // Gone meanwhile: the name is free, and taking it replaces nothing.
        return error == error::kNotFound ? TakeFree(dir, file, name)
                                         : CopyOutcome(CopyResult::CouldNotPutInPlace, error);
    }
    win::Stat st;
    if ((error = win::StatOf(there.native(), st)) != 0)
        return {CopyResult::CouldNotPutInPlace, error};
    if (source && win::IdentityOf(st) == *source)
        return CopyResult::SameFile;
    if (win::KindOf(st) == FileKind::Folder)
        return {CopyResult::CouldNotPutInPlace, error::kIsAFolder};
    if (!StillSeen(st, seen))
        return {CopyResult::DestinationChanged, 0};
    // The file replaced is moved aside through its own handle, so that it is
    // the one looked at, and comes back when the copy cannot have the name.
    // (Windows has no exchange of two names: for this moment the name is
    // free, and a crash leaves both files under hidden names.)
    QByteArray aside;
    for (int attempt = 0; attempt < 10 && aside.isEmpty(); ++attempt) {
        const QByteArray candidate = FreshTemporaryName(name);
        error = win::RenameByHandle(there.native(), dir, candidate, false);
        if (error == 0)
            aside = candidate;
        else if (!Taken(error))
            return {CopyResult::CouldNotPutInPlace, error};
    }
    if (aside.isEmpty())
        return {CopyResult::CouldNotPutInPlace, ERROR_ALREADY_EXISTS};
    error = win::RenameByHandle(file, dir, name, false);
    if (error != 0) {
        if (const int back = win::RenameByHandle(there.native(), dir, name, false))
            return {CopyResult::CouldNotPutInPlace, back};
        return Taken(error) ? CopyOutcome(CopyResult::DestinationChanged, 0)
                            : CopyOutcome(CopyResult::CouldNotPutInPlace, error);
    }
    // Not deletable (an ACL that allows renaming only): it stays hidden
    // rather than under the name.
    win::DeleteByHandle(there.native());
    return CopyResult::Copied;
}

}  // namespace zandrel::fs::naming
