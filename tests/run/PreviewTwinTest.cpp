// The preview against the run that follows it, on random worlds: a preview
// changes nothing, and its exit status, every line, the failures it foretells
// and its counts are what the run then does.
// ZANDREL_TWIN_SEEDS=600 runs that many more seeds (from ZANDREL_TWIN_FIRST,
// default 1000) and prints a summary; ZANDREL_TWIN_VERBOSE prints every world
// that disagrees.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QSet>

#include "common/Paths.h"
#include "run/TestFiles.h"
#include "run/TwinWorld.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

// What stands at a path: everything that a preview must leave alone, and
// what a copy carries over (the bytes, or the link's text).
struct Seen {
    QByteArray line;
    QByteArray content;
    bool folder = false;
    bool operator==(const Seen& other) const { return line == other.line; }
};
using Manifest = QMap<QByteArray, Seen>;

void Walk(const QByteArray& folder, Manifest& into) {
    for (const QByteArray& name : EntryNames(folder)) {
        const QByteArray path = folder + '/' + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            continue;
        Seen seen;
        seen.folder = S_ISDIR(st.st_mode);
        if (S_ISREG(st.st_mode)) {
            // The bytes: a copy's time shows in the decisions that follow.
            seen.content = st.st_size < (1 << 20) ? ReadBytes(path) : QByteArray("(large)");
        } else if (S_ISLNK(st.st_mode)) {
            char text[4096];
            const ssize_t n = ::readlink(path.constData(), text, sizeof text);
            seen.content = "-> " + QByteArray(text, n > 0 ? n : 0);
        } else if (!seen.folder) {
            seen.content = "special";
        }
        seen.line = QByteArray::number(st.st_mode, 8) + ' ' + QByteArray::number(st.st_uid) + ' ' +
                    QByteArray::number(qint64(st.st_size)) + ' ' +
                    QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
                    QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ' ' + seen.content;
        into.insert(path, seen);
        if (seen.folder)
            Walk(path, into);
    }
}

Manifest Take(const QByteArray& root) {
    Manifest m;
    Walk(root, m);
    return m;
}

// A preview line's name as bytes: \\ \t \n \r \xHH undone.
QByteArray Unescaped(const QByteArray& text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '\\' || i + 1 == text.size()) {
            out += text.at(i);
            continue;
        }
        const char c = text.at(++i);
        if (c == 'x' && i + 2 < text.size()) {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
    }
    return out;
}

struct Ran {
    int status = -1;
    QList<QByteArray> lines;
    QByteArray errors;
};

struct Verdict {
    bool unprivileged = false;
    QMap<QByteArray, int> decided;  // lines by word: what the world exercised
    QStringList disagreements;      // "kind: detail"
    QString story;                  // the list, the tree, both outputs: for a report
};

class TwinCheck {
  public:
    explicit TwinCheck(quint32 seed) : seed_(seed) {}
    // By byte names: the temporary folder cannot remove a name that is not UTF-8.
    ~TwinCheck() { RemoveTreeContents(EncodePath(root_)); }
    Verdict run();

  private:
    Ran zandrel(const char* switchText) const;
    QString canonical(const QByteArray& path, const QString& named, bool itself = true) const;
    void disagree(const char* kind, const QString& detail) {
        verdict_.disagreements << QLatin1String(kind) + QStringLiteral(": ") + detail;
    }
    void compareLines(const Ran& preview, const Ran& run, const Manifest& before,
                      const Manifest& after);

    quint32 seed_;
    TempTree t_;
    QString root_ = QDir(t_.root()).canonicalPath();
    TwinWorld world_;
    QList<QPair<QString, QString>> links_;  // each link of the tree and where it leads, at first
    Verdict verdict_;
};

Ran TwinCheck::zandrel(const char* switchText) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root_ + QStringLiteral("/home"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(root_);
    QStringList arguments{root_ + QStringLiteral("/bin/zandrel"),
                          root_ + QStringLiteral("/list.bak"), QLatin1String(switchText)};
    if (world_.unprivileged)
        arguments =
            QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--")} +
            arguments;
    p.start(world_.unprivileged ? QStringLiteral("runuser") : arguments.takeFirst(), arguments);
    Ran ran;
    if (!p.waitForFinished(60000))
        return ran;
    ran.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    ran.lines = p.readAllStandardOutput().split('\n');
    if (!ran.lines.isEmpty() && ran.lines.constLast().isEmpty())
        ran.lines.removeLast();
    ran.errors = p.readAllStandardError();
    return ran;
}

// One path for one place: from the root (the current folder), "./" and "../"
// resolved, and the folder the user named followed through links, as the run
// follows it (never what lies below it). A folder removal takes the named
// folder's own name in the folder above it.
QString TwinCheck::canonical(const QByteArray& path, const QString& named, bool itself) const {
    const auto clean = [&](const QString& p) {
        return QDir::cleanPath(p.startsWith(u'/') ? p : root_ + u'/' + p);
    };
    const auto follow = [&](QString folder) {
        for (int round = 0; round < 8; ++round) {
            const auto through =
                std::find_if(links_.cbegin(), links_.cend(), [&](const auto& link) {
                    return folder == link.first || folder.startsWith(link.first + u'/');
                });
            if (through == links_.cend())
                break;
            folder = QDir::cleanPath(through->second + folder.mid(through->first.size()));
        }
        return folder;
    };
    const QString p = clean(QString::fromUtf8(path));
    const QString folder = clean(named);
    if (p == folder && !itself)
        return follow(QFileInfo(folder).path()) + u'/' + QFileInfo(folder).fileName();
    if (p == folder || p.startsWith(folder + u'/'))
        return follow(folder) + p.mid(folder.size());
    return p;
}

Verdict TwinCheck::run() {
    if (t_.copyProgram().isEmpty()) {
        disagree("setup", QStringLiteral("ZANDREL_BINARY is not set or cannot be copied"));
        return verdict_;
    }
    world_ = MakeTwinWorld(seed_, root_, ::geteuid() == 0);
    verdict_.unprivileged = world_.unprivileged;
    const QByteArray root = EncodePath(root_);
    WriteBytes(root + "/list.bak", ListText(world_));
    QDir().mkpath(root_ + QStringLiteral("/home"));
    if (world_.unprivileged) {
        const passwd* nobody = ::getpwnam("nobody");
        ::chmod(root.constData(), 0755);
        for (const char* mine : {"/bin", "/bin/zandrel", "/home", "/list.bak"})
            ::chown((root + mine).constData(), nobody->pw_uid, nobody->pw_gid);
    }

    const Manifest before = Take(root);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.value().content.startsWith("-> ")) {
            const QString link = QString::fromUtf8(it.key());
            const QString target = QString::fromUtf8(it.value().content.mid(3));
            links_ << qMakePair(
                link,
                QDir::cleanPath(target.startsWith(u'/') ? target
                                                        : QFileInfo(link).path() + u'/' + target));
        }
    }
    const Ran preview = zandrel("-n");
    const Manifest after = Take(root);
    const Ran run = zandrel("-r");
    const Manifest final = Take(root);

    QString& s = verdict_.story;
    s += QStringLiteral("seed %1%2\nlist.bak:\n")
             .arg(seed_)
             .arg(world_.unprivileged ? QStringLiteral(" (run as nobody)") : QString());
    s += QString::fromUtf8(ListText(world_)).remove(u'\r');
    s += QStringLiteral("tree (mode owner size time contents):\n");
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key().startsWith(root + "/w/"))
            s += QString::fromUtf8(it.key().mid(root.size() + 1) + "  " + it.value().line) + u'\n';
    }
    s += QStringLiteral("preview (status %1):\n").arg(preview.status) +
         QString::fromUtf8(preview.lines.join('\n') + '\n' + preview.errors);
    s += QStringLiteral("run (status %1):\n").arg(run.status) +
         QString::fromUtf8(run.lines.join('\n') + '\n' + run.errors);

    if (after != before) {
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (before.value(it.key()).line != it.value().line)
                disagree("preview-changed", QString::fromUtf8(it.key() + ' ' + it.value().line));
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!after.contains(it.key()))
                disagree("preview-changed", QString::fromUtf8(it.key() + " removed"));
        }
    }
    if (preview.status != run.status || preview.status < 0 || preview.status == 2 ||
        preview.status > 3)
        disagree("status",
                 QStringLiteral("preview %1, run %2").arg(preview.status).arg(run.status));
    compareLines(preview, run, before, final);
    return verdict_;
}

// The preview's lines replayed over the tree as it was: what the run must
// have left, file by file; then the failures and counts against its log.
void TwinCheck::compareLines(const Ran& preview, const Ran& run, const Manifest& before,
                             const Manifest& final) {
    const QByteArray w = EncodePath(root_) + "/w/";
    QHash<QString, QByteArray> expected;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key().startsWith(w) && !it.value().folder)
            expected.insert(QString::fromUtf8(it.key()), it.value().content);
    }
    QList<QByteArray> foretold;
    QStringList removed;
    QStringList kept;
    QMap<QByteArray, int> tally;  // since the last counts line
    QMap<QByteArray, int> total;
    bool totalSeen = false;
    int listing = 0;
    QStringList previewReports;
    const QList<QByteArray>& lines = preview.lines;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines.at(i).split('\t');
        if (f.first() == "counts" || f.first() == "total") {
            // Every decision named, each count the number of its lines.
            QMap<QByteArray, int> want = tally;
            if (f.first() == "total") {
                for (auto it = total.cbegin(); it != total.cend(); ++it)
                    want[it.key()] += it.value();
            }
            QMap<QByteArray, int> named;
            for (const QByteArray& field : f.mid(1))
                named[field.left(field.indexOf(' '))] = field.mid(field.indexOf(' ') + 1).toInt();
            for (const QByteArray& word : named.keys() + want.keys()) {
                if (named.value(word, -1) != want.value(word))
                    disagree("counts", QStringLiteral("%1 line %2 says %3 %4, lines %5")
                                           .arg(QString::fromUtf8(f.first()))
                                           .arg(listing + 1)
                                           .arg(QString::fromUtf8(word))
                                           .arg(named.value(word, -1))
                                           .arg(want.value(word)));
            }
            if (f.first() == "counts") {
                for (auto it = tally.cbegin(); it != tally.cend(); ++it)
                    total[it.key()] += it.value();
                ++listing;
            } else {
                totalSeen = true;
                total = named;
            }
            tally.clear();
            continue;
        }
        if (f.size() != 3) {
            if (lines.at(i).contains(" : "))
                previewReports << QString::fromUtf8(lines.at(i).mid(lines.at(i).indexOf(" : ")));
            continue;
        }
        const QByteArray& decision = f.at(0);
        const QByteArray source = Unescaped(f.at(1));
        const QByteArray destination = Unescaped(f.at(2));
        ++tally[decision];
        ++verdict_.decided[decision];
        // The log escapes names as the preview does.
        if (decision == "fail-delete" || decision == "fail-remove-folder")
            foretold << "Delete failed: " + f.at(1);
        else if (decision.startsWith("fail-"))
            foretold << "Copy failed: " + f.at(1);
        const Listing& l =
            world_.listings.at(std::min<qsizetype>(listing, world_.listings.size() - 1));
        if (decision == "remove-folder")
            removed << canonical(source, l.SourceFolder, false);
        if (decision == "fail-remove-folder")
            kept << canonical(source, l.SourceFolder, false);
        if (decision != "copy" && decision != "overwrite")
            continue;
        const QString from = canonical(source, l.SourceFolder);
        if (!expected.contains(from)) {
            disagree("preview-self",
                     QStringLiteral("copies %1, which its own earlier lines took away").arg(from));
            continue;
        }
        expected.insert(canonical(destination, l.DestinationFolder), expected.value(from));
        const bool deleteFails =
            i + 1 < lines.size() && lines.at(i + 1).startsWith("fail-delete\t" + f.at(1) + '\t');
        if (listing < world_.listings.size() &&
            world_.listings.at(listing).Action == ListingAction::Move && !deleteFails)
            expected.remove(from);
    }

    // What the run left: every file and link where the lines say.
    QHash<QString, QByteArray> found;
    for (auto it = final.cbegin(); it != final.cend(); ++it) {
        if (it.key().startsWith(w) && !it.value().folder)
            found.insert(QString::fromUtf8(it.key()), it.value().content);
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (found.value(it.key()) != it.value())
            disagree("result",
                     QStringLiteral("%1: foretold \"%2\", found \"%3\"")
                         .arg(it.key(), QString::fromUtf8(it.value()),
                              found.contains(it.key()) ? QString::fromUtf8(found.value(it.key()))
                                                       : QStringLiteral("nothing")));
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!expected.contains(it.key()))
            disagree("result", QStringLiteral("%1: not foretold, found \"%2\"")
                                   .arg(it.key(), QString::fromUtf8(it.value())));
    }
    // A folder removed leaves nothing at its name; a failed removal leaves
    // what stood there (a folder, or a link the user named).
    for (const QString& folder : removed) {
        if (final.contains(EncodePath(folder)))
            disagree("result", QStringLiteral("%1: removal foretold, still there").arg(folder));
    }
    for (const QString& folder : kept) {
        if (!final.contains(EncodePath(folder)))
            disagree("result", QStringLiteral("%1: failed removal foretold, gone").arg(folder));
    }

    // The entries both print: each Listing's start and an early end.
    QStringList runReports;
    for (const QByteArray& line : run.lines) {
        const QString entry = QString::fromUtf8(line.mid(line.indexOf(" : ")));
        if (line.contains(" : ") && !entry.startsWith(QLatin1String(" : Finished ")) &&
            !entry.contains(QLatin1String(" files copied....")))
            runReports << entry;
    }
    if (previewReports != runReports)
        disagree("report", QStringLiteral("preview [%1], run [%2]")
                               .arg(previewReports.join(u'|'), runReports.join(u'|')));

    // A run that ends early prints no counts, and its log (if any) holds the
    // failures before the end.
    const bool endedEarly = run.status == 3 || preview.status == 3;
    if (!totalSeen && !endedEarly)
        disagree("counts", QStringLiteral("no total line"));
    QList<QByteArray> logged;
    QByteArray log = ReadBytes(EncodePath(root_) + "/bin/log.txt");
    if (log.isEmpty())
        log = ReadBytes(EncodePath(root_) + "/home/Zandrel/Zandrel/log.txt");
    if (endedEarly && log.isEmpty())
        return;
    for (QByteArray line : log.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype arrow = line.indexOf("-->");
        const QByteArray entry = line.mid(arrow + 3);
        if (arrow >= 0 &&
            (entry.startsWith("Copy failed: ") || entry.startsWith("Delete failed: ")))
            logged << entry;
    }
    if (foretold != logged)
        disagree("failures", QStringLiteral("foretold [%1], logged [%2]")
                                 .arg(QString::fromUtf8(foretold.join('|')),
                                      QString::fromUtf8(logged.join('|'))));
    if (endedEarly)
        return;
    int failures = 0;
    for (auto it = total.cbegin(); it != total.cend(); ++it) {
        if (it.key().startsWith("fail-"))
            failures += it.value();
    }
    const QString foretoldEnd = QStringLiteral(" : %1 files copied....%2 errors.")
                                    .arg(total.value("copy") + total.value("overwrite"))
                                    .arg(failures);
    const QByteArray last = run.lines.isEmpty() ? QByteArray() : run.lines.constLast();
    if (!last.endsWith(foretoldEnd.toUtf8()))
        disagree("counts", QStringLiteral("total foretells \"%1\", run says \"%2\"")
                               .arg(foretoldEnd, QString::fromUtf8(last)));
}

class PreviewTwinTest : public ::testing::TestWithParam<int> {};

TEST_P(PreviewTwinTest, AgreesWithTheRun) {
    const Verdict v = TwinCheck(quint32(GetParam())).run();
    EXPECT_TRUE(v.disagreements.isEmpty()) << v.disagreements.join(u'\n').toStdString() << '\n'
                                           << v.story.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Seeds, PreviewTwinTest, ::testing::Range(1, 41));

TEST(PreviewTwinLong, ManySeeds) {
    const int count = qEnvironmentVariableIntValue("ZANDREL_TWIN_SEEDS");
    if (count <= 0)
        GTEST_SKIP() << "ZANDREL_TWIN_SEEDS is not set";
    bool firstSet = false;
    const int first = qEnvironmentVariableIntValue("ZANDREL_TWIN_FIRST", &firstSet);
    const bool verbose = qEnvironmentVariableIsSet("ZANDREL_TWIN_VERBOSE");
    QMap<QString, QList<int>> seedsByKind;
    QList<int> failing;
    QMap<QByteArray, int> decided;
    int unprivileged = 0;
    int unprivilegedAgreeing = 0;
    for (int seed = firstSet ? first : 1000; seed < (firstSet ? first : 1000) + count; ++seed) {
        const Verdict v = TwinCheck(quint32(seed)).run();
        unprivileged += v.unprivileged;
        for (auto it = v.decided.cbegin(); it != v.decided.cend(); ++it)
            decided[it.key()] += it.value();
        if (v.disagreements.isEmpty()) {
            unprivilegedAgreeing += v.unprivileged;
            continue;
        }
        failing << seed;
        QSet<QString> kinds;
        for (const QString& d : v.disagreements) kinds.insert(d.section(u':', 0, 0));
        for (const QString& kind : kinds) seedsByKind[kind] << seed;
        std::printf("seed %d: %s\n", seed, qPrintable(v.disagreements.first()));
        if (verbose)
            std::printf("%s\n%s\n", qPrintable(v.disagreements.join(u'\n')), qPrintable(v.story));
    }
    std::printf("cases %d, agreements %d, disagreements %d; run as nobody %d, agreeing %d\n", count,
                count - int(failing.size()), int(failing.size()), unprivileged,
                unprivilegedAgreeing);
    QByteArray seen = "  lines seen:";
    for (auto it = decided.cbegin(); it != decided.cend(); ++it)
        seen += ' ' + it.key() + ' ' + QByteArray::number(it.value());
    std::printf("%s\n", seen.constData());
    for (auto it = seedsByKind.cbegin(); it != seedsByKind.cend(); ++it) {
        QStringList seeds;
        for (int seed : it.value()) seeds << QString::number(seed);
        std::printf("  %s (%d): %s\n", qPrintable(it.key()), int(it.value().size()),
                    qPrintable(seeds.join(u' ')));
    }
    EXPECT_TRUE(failing.isEmpty());
}

}  // namespace
