#include "reliability/NoLoss.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/FileSystem.h"
#include "support/TempTree.h"

namespace zandrel::test {

QByteArray ReadFileBytes(const QByteArray& path) {
    fs::Handle fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QByteArray out;
    char buffer[65536];
    for (ssize_t n; fd.valid() && (n = ::read(fd.native(), buffer, sizeof buffer)) > 0;)
        out.append(buffer, n);
    return out;
}

namespace {

void Walk(const QByteArray& folder, const std::function<void(const QByteArray&)>& onFile) {
    for (const QByteArray& name : EntryNames(folder)) {
        const QByteArray path = folder + '/' + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            Walk(path, onFile);
        else if (S_ISREG(st.st_mode))
            onFile(path);
    }
}

bool Exists(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QString Text(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

}  // namespace

Snapshot TakeSnapshot(const QByteArray& root) {
    Snapshot s;
    Walk(root, [&](const QByteArray& path) { s.insert(path, ReadFileBytes(path)); });
    return s;
}

QByteArray BelowFirstLevel(const QByteArray& absolute) {
    const qsizetype second = absolute.indexOf('/', 1);
    return second < 0 ? absolute.mid(1) : absolute.mid(second + 1);
}

bool IsTemporaryName(const QByteArray& path) {
    return path.endsWith(".zandrel-part");
}

QByteArray DestinationOf(const NoLossCheck& check, const QByteArray& source) {
    const QByteArray rest =
        check.flatten ? source.mid(source.lastIndexOf('/') + 1) : BelowFirstLevel(source);
    return check.destinationRoot + '/' + rest;
}

QStringList Violations(const NoLossCheck& check, const QList<QByteArray>& errorEntries,
                       bool allAttempted) {
    QStringList problems;
    QMap<QByteArray, QByteArray> sourceOf;
    for (auto it = check.sources.cbegin(); it != check.sources.cend(); ++it)
        sourceOf.insert(DestinationOf(check, it.key()), it.key());

    const Snapshot now = TakeSnapshot(check.destinationRoot);
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const QByteArray& path = it.key();
        if (IsTemporaryName(path))
            continue;
        const bool wasThere = check.destinations.contains(path);
        if (wasThere && check.destinations.value(path) == it.value())
            continue;
        if (sourceOf.contains(path) && check.sources.value(sourceOf.value(path)) == it.value())
            continue;
        problems << QStringLiteral("destination holds other bytes (%1 of them): %2")
                        .arg(it.value().size())
                        .arg(Text(path));
    }

    QList<QByteArray> named;
    for (const QByteArray& e : errorEntries) {
        if (e.startsWith("Copy failed: ")) {
            const QByteArray source = e.mid(13);
            named << source;
            const QByteArray d = DestinationOf(check, source);
            if (now.contains(d) && check.sources.contains(source) &&
                now.value(d) == check.sources.value(source) &&
                check.destinations.value(d) != now.value(d))
                problems << QStringLiteral("reported as failed but copied: ") + Text(source);
            if (check.move && check.sources.contains(source) && !Exists(source))
                problems << QStringLiteral("failed copy, yet the source is gone: ") + Text(source);
        } else if (e.startsWith("Delete failed: ")) {
            named << e.mid(15);
            if (!Exists(e.mid(15)))
                problems << QStringLiteral("reported as not deleted but gone: ") + Text(e.mid(15));
        } else {
            problems << QStringLiteral("error entry of unknown form: ") + Text(e);
        }
    }

    for (auto it = check.sources.cbegin(); it != check.sources.cend(); ++it) {
        const QByteArray& source = it.key();
        const bool there = Exists(source);
        if (there && ReadFileBytes(source) != it.value())
            problems << QStringLiteral("source changed: ") + Text(source);
        if (!check.move) {
            if (!there)
                problems << QStringLiteral("a Copy removed its source: ") + Text(source);
            continue;
        }
        const QByteArray d = DestinationOf(check, source);
        if (!there && now.value(d) != it.value())
            problems << QStringLiteral("moved source gone without its complete copy: ") +
                            Text(source);
        if (there && allAttempted && !named.contains(source))
            problems << QStringLiteral("moved source left without an error entry: ") + Text(source);
    }
    return problems;
}

int NewCompleteCopies(const NoLossCheck& check) {
    int n = 0;
    for (auto it = check.sources.cbegin(); it != check.sources.cend(); ++it) {
        const QByteArray d = DestinationOf(check, it.key());
        const QByteArray bytes = ReadFileBytes(d);
        if (Exists(d) && bytes == it.value() &&
            !(check.destinations.contains(d) && check.destinations.value(d) == bytes))
            ++n;
    }
    return n;
}

QList<QByteArray> Temporaries(const QByteArray& root) {
    QList<QByteArray> found;
    Walk(root, [&](const QByteArray& path) {
        if (IsTemporaryName(path))
            found << path;
    });
    return found;
}

QByteArray Pattern(qint64 size, char seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2166136261u ^ static_cast<unsigned char>(seed);
    for (qint64 i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

}  // namespace zandrel::test
