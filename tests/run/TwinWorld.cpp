#include "run/TwinWorld.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <random>

#include "common/Paths.h"
#include "run/TestFiles.h"

namespace zandrel::test {

namespace {

class Dice {
  public:
    explicit Dice(quint32 seed) : engine_(seed) {}
    int below(int n) { return int(engine_() % quint32(n)); }
    bool chance(int percent) { return below(100) < percent; }
    QString pick(const QStringList& from) { return from.at(below(int(from.size()))); }

  private:
    std::mt19937 engine_;
};

class Builder {
  public:
    Builder(quint32 seed, const QString& root) : dice_(seed), w_(root + QStringLiteral("/w")) {}
    TwinWorld build(bool mayDropPrivileges);

  private:
    QString at(const QString& relative) const { return w_ + u'/' + relative; }
    // Older, equal or newer than another file drawn the same way.
    qint64 someTime() { return 1000000000 + 500000000 * qint64(dice_.below(3)); }
    void file(const QString& relative, bool empty = false);
    void fill(const QString& relative, int depth);
    QString spelled(const QString& relative);
    Listing listing(const QStringList& sources, const QStringList& destinations);
    void seedDestination(const Listing& l, const QString& sourceRelative,
                         const QString& destinationRelative);
    void lock(const QStringList& moveSources);

    Dice dice_;
    QString w_;
    int made_ = 0;
    QStringList seeded_;  // destination sub-folders holding copies made in advance
};

void Builder::file(const QString& relative, bool empty) {
    const QString path = at(relative);
    QDir().mkpath(QFileInfo(path).path());
    QByteArray bytes;
    if (!empty)
        bytes = "file " + QByteArray::number(++made_) + QByteArray(dice_.below(40), 'x');
    WriteBytes(EncodePath(path), bytes);
    SetMtime(path, someTime(), 0);
}

// Files with names shared by every folder (so flattened Listings clash),
// links to a file, a folder and nothing, FIFOs, sub-folders.
void Builder::fill(const QString& relative, int depth) {
    QDir().mkpath(at(relative));
    for (const char* name : {"a.txt", "b.txt", "c.dat", "d.tmp", "e"}) {
        if (dice_.chance(45))
            file(relative + u'/' + QLatin1String(name), dice_.chance(10));
    }
    if (dice_.chance(20)) {
        const QString target = dice_.pick({QStringLiteral("a.txt"), QStringLiteral("s"),
                                           QStringLiteral("nowhere"), QStringLiteral("../c.dat")});
        ::symlink(EncodePath(target).constData(),
                  EncodePath(at(relative + QStringLiteral("/l"))).constData());
    }
    if (dice_.chance(10))
        ::mkfifo(EncodePath(at(relative + QStringLiteral("/p"))).constData(), 0644);
    for (const char* sub : {"s", "t"}) {
        if (depth < 2 && dice_.chance(depth == 0 ? 55 : 25))
            fill(relative + u'/' + QLatin1String(sub), depth + 1);
    }
}

// One folder named in one of several ways: "./", "../", through a link, with
// a trailing separator.
QString Builder::spelled(const QString& relative) {
    switch (dice_.below(10)) {
        case 0:
            return w_ + QStringLiteral("/./") + relative;
        case 1:
            return at(dice_.pick({QStringLiteral("B"), QStringLiteral("C")}) +
                      QStringLiteral("/../") + relative);
        case 2:
            if (relative.startsWith(u'A'))
                return at(QStringLiteral("LA") + relative.mid(1));
            break;
        case 3:
            return at(relative) + u'/';
    }
    return at(relative);
}

Listing Builder::listing(const QStringList& sources, const QStringList& destinations) {
    const QStringList top{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    QString source;
    if (!destinations.isEmpty() && dice_.chance(35)) {
        source = dice_.pick(destinations);
    } else {
        source = dice_.pick(top);
        if (dice_.chance(15) && QFileInfo(at(source + QStringLiteral("/s"))).isDir())
            source += QStringLiteral("/s");
    }
    if (dice_.chance(3))
        source =
            dice_.pick({QStringLiteral("missing"), QStringLiteral("dead"), QStringLiteral("F")});

    QString destination;
    const int r = dice_.below(100);
    if (r < 20)
        destination = QStringLiteral("N%1%2")
                          .arg(dice_.below(2))
                          .arg(dice_.chance(30) ? QStringLiteral("/x") : QString());
    else if (r < 35 && !sources.isEmpty())
        destination = dice_.pick(sources);
    else if (r < 45)
        destination = source + u'/' + dice_.pick({QStringLiteral("s"), QStringLiteral("n")});
    else
        destination = dice_.pick(top);
    if (dice_.chance(4))
        destination = dice_.pick({QStringLiteral("F"), QStringLiteral("dead"), source});

    Listing l;
    l.Action = dice_.chance(40) ? ListingAction::Move : ListingAction::Copy;
    l.SourceFolder = spelled(source);
    l.DestinationFolder = spelled(destination);
    l.IncludeSubfolders = dice_.chance(70);
    l.CopyJustFiles = dice_.chance(35);
    l.IfExists = ExistingFileRule(dice_.below(3));
    l.Description = QStringLiteral("L%1").arg(sources.size() + 1);
    l.Filter = dice_.pick({QStringLiteral("*.*"), QStringLiteral("*.*;-*.tmp"),
                           QStringLiteral("*.txt;*.dat"), QStringLiteral("*.txt"),
                           QStringLiteral("*.*;*.txt"), QStringLiteral("a*.*;-*.dat")});
    if (!l.CopyJustFiles && dice_.chance(60))
        seedDestination(l, source, destination);
    return l;
}

// Copies at the destination made in advance, older and newer, and things in
// the way: a folder at a file's name, a file or a link at a folder's.
void Builder::seedDestination(const Listing& l, const QString& sourceRelative,
                              const QString& destinationRelative) {
    const QString source = at(sourceRelative);
    if (!QFileInfo(source).isDir() || QFileInfo(at(destinationRelative)).isFile())
        return;
    const QString below = at(destinationRelative) + u'/' + source.section(u'/', 2);
    QDir().mkpath(below);
    seeded_ << below;
    for (const QString& name : QDir(source).entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        if (dice_.chance(50))
            file(QDir(w_).relativeFilePath(below + u'/' + name), dice_.chance(10));
        else if (dice_.chance(8))
            QDir().mkpath(below + u'/' + name);
    }
    if (QFileInfo(source + QStringLiteral("/s")).isDir() && l.IncludeSubfolders &&
        dice_.chance(20)) {
        if (dice_.chance(50))
            file(QDir(w_).relativeFilePath(below + QStringLiteral("/s")));
        else
            ::symlink("..", EncodePath(below + QStringLiteral("/s")).constData());
    }
}

// The tree handed to nobody, then some of it locked: unreadable files,
// folders that cannot be written, searched or listed, a Move's source folder
// and a destination sub-folder that cannot be written.
void Builder::lock(const QStringList& moveSources) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return;
    QStringList files;
    QStringList folders;
    ::lchown(EncodePath(w_).constData(), nobody->pw_uid, nobody->pw_gid);
    QDirIterator it(w_, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        ::lchown(EncodePath(path).constData(), nobody->pw_uid, nobody->pw_gid);
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink())
            continue;
        if (info.isFile())
            files << path;
        else if (info.isDir() && path.count(u'/') > w_.count(u'/') + 1)
            folders << path;
    }
    for (const QString& path : files) {
        if (dice_.chance(10))
            ::chmod(EncodePath(path).constData(), 0);
    }
    const mode_t folderModes[] = {0555, 0, 0333};
    for (const QString& path : folders) {
        if (dice_.chance(12))
            ::chmod(EncodePath(path).constData(), folderModes[dice_.below(3)]);
    }
    for (const QString& path : moveSources + seeded_) {
        if (dice_.chance(40))
            ::chmod(EncodePath(path).constData(), 0555);
    }
}

TwinWorld Builder::build(bool mayDropPrivileges) {
    TwinWorld world;
    for (const char* top : {"A", "B", "C"}) fill(QLatin1String(top), 0);
    ::symlink("A", EncodePath(at(QStringLiteral("LA"))).constData());
    ::symlink("nowhere", EncodePath(at(QStringLiteral("dead"))).constData());
    file(QStringLiteral("F"));
    if (dice_.chance(50))
        ::chmod(EncodePath(at(QStringLiteral("F"))).constData(), 0755);
    world.aliases << qMakePair(at(QStringLiteral("LA")), at(QStringLiteral("A")));

    QStringList sources;
    QStringList destinations;
    QStringList moveSources;
    const int count = 1 + dice_.below(4);
    for (int i = 0; i < count; ++i) {
        world.listings << listing(sources, destinations);
        const Listing& l = world.listings.constLast();
        const auto relative = [&](const QString& path) {
            QString r = QDir(w_).relativeFilePath(QDir::cleanPath(path));
            return r.startsWith(QLatin1String("LA")) ? u'A' + r.mid(2) : r;
        };
        sources << relative(l.SourceFolder);
        destinations << relative(l.DestinationFolder);
        if (l.Action == ListingAction::Move && QFileInfo(at(sources.constLast())).isDir())
            moveSources << at(sources.constLast());
    }
    world.unprivileged = mayDropPrivileges && dice_.chance(35);
    if (world.unprivileged)
        lock(moveSources);
    return world;
}

}  // namespace

TwinWorld MakeTwinWorld(quint32 seed, const QString& root, bool mayDropPrivileges) {
    return Builder(seed, root).build(mayDropPrivileges);
}

QByteArray ListText(const TwinWorld& world) {
    QByteArray text;
    for (const Listing& l : world.listings) text += EncodeListingLine(l).toUtf8() + "\r\n";
    return text;
}

}  // namespace zandrel::test
