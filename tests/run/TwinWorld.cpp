#include "run/TwinWorld.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <cstring>
#include <random>

#include "common/Paths.h"
#include "run/TestFiles.h"

namespace zandrel::test {

namespace {

// A Unix socket's entry: a system entry like a FIFO.
void Socket(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    fs::Handle fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.valid())
        ::bind(fd.native(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

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
    void ageFolders(const QString& folder);

    Dice dice_;
    QString w_;
    int made_ = 0;
    int listed_ = 0;
    QStringList seeded_;  // destination sub-folders holding copies made in advance
};

void Builder::file(const QString& relative, bool empty) {
    const QString path = at(relative);
    const QFileInfo there(path);
    if (there.isSymLink() || (there.exists() && !there.isFile()))
        return;  // never writes through a link or into a FIFO
    QDir().mkpath(there.path());
    QByteArray bytes;
    if (!empty)
        bytes = "file " + QByteArray::number(++made_) + QByteArray(dice_.below(40), 'x');
    WriteBytes(EncodePath(path), bytes);
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(someTime());
    times[0].tv_nsec = times[1].tv_nsec = dice_.chance(20) ? dice_.below(1000000000) : 0;
    ::utimensat(AT_FDCWD, EncodePath(path).constData(), times, 0);
}

// Files with names shared by every folder (so flattened Listings clash),
// links to a file, a folder and nothing, FIFOs, sub-folders.
void Builder::fill(const QString& relative, int depth) {
    QDir().mkpath(at(relative));
    for (const char* name : {"a.txt", "b.txt", "c.dat", "d.tmp", "e"}) {
        if (dice_.chance(45))
            file(relative + u'/' + QLatin1String(name), dice_.chance(10));
    }
    // Now and then more files than a run keeps waiting at once.
    if (depth == 1 && dice_.chance(4)) {
        for (int k = 0; k < 130; ++k)
            file(relative + QStringLiteral("/m%1.txt").arg(k, 3, 10, QChar(u'0')), dice_.chance(5));
    }
    // Hidden, another case, names that a line of text must escape, not UTF-8.
    for (const QString& name : {QStringLiteral(".h"), QStringLiteral("B.TXT"),
                                QStringLiteral("t\tab.txt"), QStringLiteral("back\\slash.dat"),
                                QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(".txt")}) {
        if (dice_.chance(6))
            file(relative + u'/' + name);
    }
    if (dice_.chance(20)) {
        const QString target = dice_.pick({QStringLiteral("a.txt"), QStringLiteral("s"),
                                           QStringLiteral("nowhere"), QStringLiteral("../c.dat")});
        ::symlink(EncodePath(target).constData(),
                  EncodePath(at(relative + QStringLiteral("/l"))).constData());
    }
    if (dice_.chance(10))
        ::mkfifo(EncodePath(at(relative + QStringLiteral("/p"))).constData(), 0644);
    if (dice_.chance(4))
        Socket(EncodePath(at(relative + QStringLiteral("/sock"))));
    for (const char* sub : {"s", "t"}) {
        if (depth < 2 && dice_.chance(depth == 0 ? 55 : 25))
            fill(relative + u'/' + QLatin1String(sub), depth + 1);
        else if (dice_.chance(10))
            file(relative + u'/' + QLatin1String(sub));  // a file where other folders have one
    }
}

// One folder named in one of several ways: "./", "../", through a link, with
// a trailing separator, relative.
QString Builder::spelled(const QString& relative) {
    switch (dice_.below(12)) {
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
        case 4:
            return QStringLiteral("w/") + relative;  // from the current folder, the root
        case 5:  // through the folder itself, which may be one a Listing makes
            if (const qsizetype cut = relative.lastIndexOf(u'/'); cut > 0)
                return at(relative.left(cut) + QStringLiteral("/./") + relative.mid(cut + 1));
            break;
        case 6:
            return at(relative + QStringLiteral("/../") + relative.section(u'/', -1));
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
    if (dice_.chance(6))
        source = QStringLiteral("R");
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
    if (dice_.chance(6))
        destination = dice_.pick({QStringLiteral("R"), QStringLiteral("R/x")});
    if (dice_.chance(4))
        destination = dice_.pick({QStringLiteral("F"), QStringLiteral("dead"), source});

    Listing l;
    l.Action = dice_.chance(40) ? ListingAction::Move : ListingAction::Copy;
    l.SourceFolder = spelled(source);
    l.DestinationFolder = spelled(destination);
    l.IncludeSubfolders = dice_.chance(70);
    l.CopyJustFiles = dice_.chance(35);
    l.IfExists = ExistingFileRule(dice_.below(3));
    l.Description = QStringLiteral("L%1").arg(++listed_);
    l.Filter = dice_.pick({QStringLiteral("*.*"), QStringLiteral("*.*;-*.tmp"),
                           QStringLiteral("*.txt;*.dat"), QStringLiteral("*.txt"),
                           QStringLiteral("*.*;*.txt"), QStringLiteral("a*.*;-*.dat"),
                           QStringLiteral("*.TXT;-*.Tmp"), QStringLiteral("?.*"), QString()});
    if (!l.CopyJustFiles && dice_.chance(60))
        seedDestination(l, source, destination);
    // The first folder level with the structure kept: every file maps onto
    // itself.
    if (!l.CopyJustFiles && dice_.chance(4))
        l.DestinationFolder = u'/' + w_.section(u'/', 1, 1);
    return l;
}

// Copies at the destination made in advance, older and newer, and things in
// the way: a folder at a file's name, a file or a link at a folder's.
void Builder::seedDestination(const Listing& l, const QString& sourceRelative,
                              const QString& destinationRelative) {
    const QString source = at(sourceRelative);
    const QFileInfo there(at(destinationRelative));
    if (!QFileInfo(source).isDir() || (there.exists() && !there.isDir()) ||
        (there.isSymLink() && !there.exists()))
        return;
    const QString below = at(destinationRelative) + u'/' + source.section(u'/', 2);
    QDir().mkpath(below);
    seeded_ << below;
    for (const QString& name : QDir(source).entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const QByteArray at = EncodePath(below + u'/' + name);
        if (dice_.chance(50))
            file(QDir(w_).relativeFilePath(below + u'/' + name), dice_.chance(10));
        else if (dice_.chance(8))
            QDir().mkpath(below + u'/' + name);
        else if (dice_.chance(6))
            ::link(EncodePath(source + u'/' + name).constData(), at.constData());  // the same file
        else if (dice_.chance(4))
            ::mkfifo(at.constData(), 0644);
        else if (dice_.chance(5))  // a link at a file's name, to elsewhere or to the source
            ::symlink(dice_.chance(50) ? "../x" : EncodePath(source + u'/' + name).constData(),
                      at.constData());
    }
    if (QFileInfo(source + QStringLiteral("/s")).isDir() && l.IncludeSubfolders &&
        dice_.chance(20)) {
        if (dice_.chance(50))
            file(QDir(w_).relativeFilePath(below + QStringLiteral("/s")));
        else
            ::symlink("..", EncodePath(below + QStringLiteral("/s")).constData());
    }
}

// The tree handed to nobody, then some of it locked: unreadable and
// read-only files, folders that cannot be written, searched or listed, a
// Move's source folder and a destination sub-folder that cannot be written,
// a sticky folder of root's where nobody may add but not replace.
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
    if (dice_.chance(30)) {
        const QString sticky =
            at(dice_.pick({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
        for (const QString& path : files + QStringList{sticky}) {
            if (path == sticky || QFileInfo(path).path() == sticky)
                ::lchown(EncodePath(path).constData(), 0, 0);
        }
        ::chmod(EncodePath(sticky).constData(), 01777);
    }
    for (const QString& path : files) {
        if (dice_.chance(10))
            ::chmod(EncodePath(path).constData(), dice_.chance(50) ? 0 : 0444);
    }
    const mode_t folderModes[] = {0555, 0, 0333, 0644};
    for (const QString& path : folders) {
        if (dice_.chance(12))
            ::chmod(EncodePath(path).constData(), folderModes[dice_.below(4)]);
    }
    ::chmod(EncodePath(at(QStringLiteral("R"))).constData(), 0555);
    for (const QString& path : moveSources + seeded_) {
        if (dice_.chance(40))
            ::chmod(EncodePath(path).constData(), 0555);
    }
}

// Folders of any age: a folder's time decides "CopyOnlyIfNewer" for a file
// at its name. Last, after everything that changed them.
void Builder::ageFolders(const QString& folder) {
    QDirIterator it(folder, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    while (it.hasNext()) ageFolders(it.next());
    if (dice_.chance(50))
        SetMtime(folder, someTime(), 0);
}

TwinWorld Builder::build(bool mayDropPrivileges) {
    TwinWorld world;
    for (const char* top : {"A", "B", "C"}) fill(QLatin1String(top), 0);
    fill(QStringLiteral("R"), 2);  // read-only for nobody
    // One file under two names in two sources.
    if (QFileInfo(at(QStringLiteral("A/a.txt"))).isFile() && dice_.chance(25))
        ::link(EncodePath(at(QStringLiteral("A/a.txt"))).constData(),
               EncodePath(at(QStringLiteral("B/h.txt"))).constData());
    ::symlink("A", EncodePath(at(QStringLiteral("LA"))).constData());
    ::symlink("nowhere", EncodePath(at(QStringLiteral("dead"))).constData());
    file(QStringLiteral("F"));
    if (dice_.chance(50))
        ::chmod(EncodePath(at(QStringLiteral("F"))).constData(), 0755);

    QStringList sources;
    QStringList destinations;
    QStringList moveSources;
    const QString root = w_.chopped(2);
    const auto relative = [&](const QString& path) {
        // Only folders below the world are named again by later Listings.
        const QString full = QDir::cleanPath(path.startsWith(u'/') ? path : root + u'/' + path);
        if (!full.startsWith(w_ + u'/'))
            return QString();
        const QString r = full.mid(w_.size() + 1);
        return r.startsWith(QLatin1String("LA")) ? u'A' + r.mid(2) : r;
    };
    const int count = 1 + dice_.below(4);
    for (int i = 0; i < count; ++i) {
        world.listings << listing(sources, destinations);
        const Listing& l = world.listings.constLast();
        QString line = EncodeListingLine(l);
        if (dice_.chance(3))  // no rule of its own: the one before, or none
            line.replace(u'<' + RuleToken(l.IfExists) + u'<', QStringLiteral("<Sometimes<"));
        world.lines << line;
        sources << relative(l.SourceFolder);
        destinations << relative(l.DestinationFolder);
        // The folder the structure kept makes below the destination.
        if (!l.CopyJustFiles && !sources.constLast().isEmpty() &&
            !destinations.constLast().isEmpty())
            destinations << destinations.constLast() + u'/' +
                                at(sources.constLast()).section(u'/', 2);
        sources.removeAll(QString());
        destinations.removeAll(QString());
        const QString source = relative(l.SourceFolder);
        if (l.Action == ListingAction::Move && !source.isEmpty() && QFileInfo(at(source)).isDir())
            moveSources << at(source);
    }
    world.unprivileged = mayDropPrivileges && dice_.chance(35);
    if (world.unprivileged)
        lock(moveSources);
    ageFolders(w_);
    return world;
}

}  // namespace

TwinWorld MakeTwinWorld(quint32 seed, const QString& root, bool mayDropPrivileges) {
    return Builder(seed, root).build(mayDropPrivileges);
}

QByteArray ListText(const TwinWorld& world) {
    QByteArray text;
    for (const QString& line : world.lines) text += line.toUtf8() + "\r\n";
    return text;
}

}  // namespace zandrel::test
