#include "run/LeftBehind.h"

#include <QList>

#include <algorithm>

namespace zandrel {

namespace {

constexpr QByteArrayView kSuffix(".zandrel-part");
constexpr qsizetype kRandomDigits = 12;

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

QByteArray KeyOf(const fs::FileIdentity& identity) {
    return QByteArray(reinterpret_cast<const char*>(&identity), sizeof identity);
}

}  // namespace

// "." + at least one byte of the name + "." + the random part + the suffix:
// a user's ".a.zandrel-part" is never taken for one.
bool IsLeftBehindCopyName(QByteArrayView name) {
    constexpr qsizetype kTail = 1 + kRandomDigits + kSuffix.size();
    if (name.size() < 2 + kTail || name.front() != '.' || !name.endsWith(kSuffix))
        return false;
    const QByteArrayView random =
        name.sliced(name.size() - kSuffix.size() - kRandomDigits, kRandomDigits);
    return name.at(name.size() - kTail) == '.' &&
           std::all_of(random.begin(), random.end(), IsLowerHex);
}

int RemoveLeftBehindCopies(const fs::Folder& folder) {
    if (!folder.valid())
        return 0;
    QList<QByteArray> candidates;
    folder.readEntries([&](const char* name, std::size_t size, fs::FileKind kind) {
        const QByteArrayView view(name, qsizetype(size));
        if ((kind == fs::FileKind::File || kind == fs::FileKind::Unknown) &&
            IsLeftBehindCopyName(view))
            candidates.append(view.toByteArray());
    });
    int removed = 0;
    for (const QByteArray& name : candidates) {
        // Looked at itself, never followed; deleted only while the name still
        // stands for the very file looked at.
        const fs::FileInfo there = folder.info(name.constData(), false);
        if (there.kind == fs::FileKind::File &&
            folder.deleteFile(name.constData(), there.identity).ok())
            ++removed;
    }
    return removed;
}

void LeftBehindCopies::clearIn(const fs::Folder& folder, const fs::FileIdentity& identity,
                               QByteArrayView path) {
    // The files of one folder come one after the other.
    if (lastKnown_ && identity == last_)
        return;
    last_ = identity;
    lastKnown_ = true;
    // FAT and exFAT may number a folder afresh once nothing holds it, and two
    // spellings may name one folder where case is ignored: either tells that
    // the run has been there.
    const QByteArray key = KeyOf(identity);
    const QByteArray named = path.toByteArray();
    const bool seen = identities_.contains(key) || paths_.contains(named);
    identities_.insert(key);
    paths_.insert(named);
    if (!seen)
        removed_ += RemoveLeftBehindCopies(folder);
}

QString LeftBehindEntry(int count) {
    return QStringLiteral(" : Removed %1 unfinished copies left by an earlier run").arg(count);
}

}  // namespace zandrel
