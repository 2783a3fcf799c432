// A copy is a replica of its source, as a restore needs it: permissions,
// times to the nanosecond, extended attributes, ACLs, owner (as root),
// holes, and folders made for the structure alike, never with more access
// than the source, also where the destination keeps less (a file system
// without ACLs, FAT). A second "CopyOnlyIfNewer" run copies nothing.

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QProcess>

#include "common/Paths.h"
#include "run/Preview.h"
#include "run/RunFixture.h"
#include "run/TestFiles.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

constexpr uid_t kNobody = 65534;

QByteArray Bytes(const QString& path) {
    return EncodePath(path);
}

struct stat StatOf(const QString& path) {
    struct stat st {};
    ::lstat(Bytes(path).constData(), &st);
    return st;
}

QByteArray Xattr(const QString& path, const char* name) {
    char value[4096];
    const ssize_t n = ::lgetxattr(Bytes(path).constData(), name, value, sizeof value);
    return n < 0 ? QByteArray("<none>") : QByteArray(value, n);
}

void SetXattr(const QString& path, const char* name, const QByteArray& value) {
    ASSERT_EQ(::lsetxattr(Bytes(path).constData(), name, value.constData(), value.size(), 0), 0)
        << name;
}

// An ACL in its extended-attribute form: tag, permissions, id.
struct AclEntry {
    quint16 tag;
    quint16 perm;
    quint32 id = 0xffffffff;
};

QByteArray Acl(std::initializer_list<AclEntry> entries) {
    QByteArray out;
    const auto put = [&](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.append(char((v >> (8 * i)) & 0xff));
    };
    put(2, 4);
    for (const AclEntry& e : entries) {
        put(e.tag, 2);
        put(e.perm, 2);
        put(e.id, 4);
    }
    return out;
}

enum : quint16 { UserObj = 1, User = 2, GroupObj = 4, Group = 8, Mask = 0x10, Other = 0x20 };

void Mode(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(Bytes(path).constData(), mode), 0);
}

void Own(const QString& path, uid_t owner, gid_t group) {
    ASSERT_EQ(::lchown(Bytes(path).constData(), owner, group), 0);
}

qint64 MtimeNs(const QString& path) {
    const struct stat st = StatOf(path);
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A sparse file: length bytes of which pieces of 4 KiB every stride hold data.
void WriteSparse(const QString& path, qint64 length, qint64 stride) {
    fs::Handle fd(::open(Bytes(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd.valid());
    ASSERT_EQ(::ftruncate(fd.native(), length), 0);
    for (qint64 at = stride / 2; at + 4096 <= length; at += stride) {
        const QByteArray piece(4096, char('a' + (at / stride) % 26));
        ASSERT_EQ(::pwrite(fd.native(), piece.constData(), piece.size(), at), piece.size());
    }
}

qint64 Allocated(const QString& path) {
    return qint64(StatOf(path).st_blocks) * 512;
}

enum class Destination { Disk, NoXattrs, Fat, Acls };

// A destination file system mounted for one case, unmounted at the end.
class Mounted {
  public:
    Mounted(Destination kind, const QString& folder, const QString& image) : folder_(folder) {
        QDir().mkpath(folder);
        if (kind == Destination::NoXattrs)
            ok_ = Run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("ramfs"),
                                                QStringLiteral("ramfs"), folder});
        else if (kind == Destination::Acls)  // where a folder's default ACL is inherited
            ok_ = Run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                QStringLiteral("tmpfs"), folder});
        else if (kind == Destination::Fat)
            ok_ = Run(QStringLiteral("truncate"), {QStringLiteral("-s64M"), image}) &&
                  Run(QStringLiteral("mkfs.vfat"), {image}) &&
                  Run(QStringLiteral("fusefat"),
                      {QStringLiteral("-o"), QStringLiteral("rw+"), image, folder});
        else
            ok_ = true;
        mounted_ = ok_ && kind != Destination::Disk;
    }
    ~Mounted() {
        if (mounted_)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder_});
    }
    bool ok() const { return ok_; }
    QString why() const { return why_; }

  private:
    bool Run(const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        why_ = program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()).trimmed();
        return false;
    }
    QString folder_;
    QString why_;
    bool ok_ = false;
    bool mounted_ = false;
};

// The run as nobody, owner of the whole tree, where the test is root.
class AsNobody {
  public:
    explicit AsNobody(bool active) {
        active_ = active && ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
        fs::ForgetPrivilege();  // the run asks anew who it is
    }
    ~AsNobody() {
        if (active_) {
            [[maybe_unused]] const int a = ::seteuid(0);
            [[maybe_unused]] const int b = ::setegid(0);
            fs::ForgetPrivilege();
        }
    }

  private:
    bool active_ = false;
};

class ReplicaTest;

struct ReplicaCase {
    const char* name;
    Destination destination;
    bool asNobody;  // the tree is nobody's and the run too
    mode_t mask;    // the file-creation mask of the run
    int files;
    void (*prepare)(ReplicaTest&);
    void (*check)(ReplicaTest&);
};

class ReplicaTest : public RunFixture, public ::testing::WithParamInterface<ReplicaCase> {
  public:
    QString src(const QString& relative) const { return t.path(QStringLiteral("src/") + relative); }
    QString copy(const QString& relative) const {
        return kept(t.path(QStringLiteral("dst")), QStringLiteral("src/") + relative);
    }
    void write(const QString& relative, const QByteArray& bytes = "data") {
        t.write(QStringLiteral("src/") + relative, bytes);
    }
    QString path(const QString& relative) const { return t.path(relative); }
    void mkdir(const QString& relative) const { t.mkdir(relative); }
};

const ReplicaCase kCases[] = {
    {"permissions_and_times", Destination::Disk, false, 022, 3,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"));
         r.write(QStringLiteral("d/e/b"));
         r.write(QStringLiteral("c"));
         Mode(r.src(QStringLiteral("d/a")), 0640);
         Mode(r.src(QStringLiteral("d/e/b")), 04755);
         Mode(r.src(QStringLiteral("c")), 0444);
         Mode(r.src(QStringLiteral("d/e")), 0555);
         Mode(r.src(QStringLiteral("d")), 0750);
         SetMtime(r.src(QStringLiteral("d/a")), 1600000000, 123456789);
         SetMtime(r.src(QStringLiteral("d/e")), 1500000001, 5);
         SetMtime(r.src(QStringLiteral("d")), 1400000000, 999999999);
     },
     [](ReplicaTest& r) {
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("d/a"))).st_mode & 07777, 0640u);
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("d/e/b"))).st_mode & 07777, 0755u);
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("c"))).st_mode & 07777, 0444u);
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("d/e"))).st_mode & 07777, 0555u);
         for (const char* p : {"d/a", "d/e/b", "c", "d/e", "d"})
             EXPECT_EQ(MtimeNs(r.copy(QLatin1String(p))), MtimeNs(r.src(QLatin1String(p)))) << p;
     }},
    {"an_empty_file_nobody_can_open_keeps_its_time", Destination::Disk, true, 022, 1,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"), QByteArray());
         Mode(r.src(QStringLiteral("d/a")), 0);
         SetMtime(r.src(QStringLiteral("d/a")), 1500000000, 250000000);
         r.mkdir(QStringLiteral("dst"));
         Own(r.path(QStringLiteral("dst")), kNobody, kNobody);
     },
     [](ReplicaTest& r) {
         EXPECT_EQ(MtimeNs(r.copy(QStringLiteral("d/a"))), MtimeNs(r.src(QStringLiteral("d/a"))));
     }},
    {"umask_077_limits_files_and_folders", Destination::Disk, false, 077, 1,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"));
         Mode(r.src(QStringLiteral("d/a")), 0644);
         Mode(r.src(QStringLiteral("d")), 0555);
     },
     [](ReplicaTest& r) {
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("d/a"))).st_mode & 07777, 0600u);
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("d"))).st_mode & 07777, 0500u);
     }},
    {"extended_attributes_and_acls", Destination::Disk, false, 022, 2,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"));
         r.write(QStringLiteral("b"));
         SetXattr(r.src(QStringLiteral("d/a")), "user.note", "a note");
         SetXattr(r.src(QStringLiteral("d")), "user.folder", "of the folder");
         SetXattr(r.src(QStringLiteral("d/a")), "system.posix_acl_access",
                  Acl({{UserObj, 6}, {User, 4, kNobody}, {GroupObj, 4}, {Mask, 6}, {Other, 0}}));
         SetXattr(r.src(QStringLiteral("d")), "system.posix_acl_default",
                  Acl({{UserObj, 7}, {User, 5, kNobody}, {GroupObj, 5}, {Mask, 5}, {Other, 0}}));
     },
     [](ReplicaTest& r) {
         for (const char* name : {"user.note", "system.posix_acl_access"})
             EXPECT_EQ(Xattr(r.copy(QStringLiteral("d/a")), name),
                       Xattr(r.src(QStringLiteral("d/a")), name))
                 << name;
         for (const char* name : {"user.folder", "system.posix_acl_default"})
             EXPECT_EQ(Xattr(r.copy(QStringLiteral("d")), name),
                       Xattr(r.src(QStringLiteral("d")), name))
                 << name;
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("d/a"))).st_mode & 0777, 0660u);
         // b had no ACL: none comes from the folder's default ACL.
         EXPECT_EQ(Xattr(r.copy(QStringLiteral("b")), "system.posix_acl_access"), "<none>");
     }},
    // A destination folder that was there with a default ACL: a copy made in
    // it takes none of its own (the folder is asked once, not each file).
    {"a_default_acl_already_there_gives_nothing", Destination::Acls, false, 022, 2,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("x"));
         r.write(QStringLiteral("y"));
         const QString into = QFileInfo(r.copy(QStringLiteral("x"))).path();
         r.mkdir(QDir(r.path(QString())).relativeFilePath(into));
         SetXattr(into, "system.posix_acl_default",
                  Acl({{UserObj, 7}, {User, 7, kNobody}, {GroupObj, 5}, {Mask, 7}, {Other, 0}}));
     },
     [](ReplicaTest& r) {
         for (const char* name : {"x", "y"})
             EXPECT_EQ(Xattr(r.copy(QLatin1String(name)), "system.posix_acl_access"), "<none>")
                 << name;
     }},
    {"owner_and_group_as_root", Destination::Disk, false, 022, 1,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"));
         Own(r.src(QStringLiteral("d/a")), 1234, 5678);
         Own(r.src(QStringLiteral("d")), 4321, 8765);
     },
     [](ReplicaTest& r) {
         const struct stat a = StatOf(r.copy(QStringLiteral("d/a")));
         const struct stat d = StatOf(r.copy(QStringLiteral("d")));
         EXPECT_EQ(a.st_uid, 1234u);
         EXPECT_EQ(a.st_gid, 5678u);
         EXPECT_EQ(d.st_uid, 4321u);
         EXPECT_EQ(d.st_gid, 8765u);
     }},
    {"holes_stay_holes", Destination::Disk, false, 022, 1,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("sparse"), {});
         WriteSparse(r.src(QStringLiteral("sparse")), qint64(50) << 20, qint64(256) << 10);
     },
     [](ReplicaTest& r) {
         EXPECT_TRUE(ReadBytes(Bytes(r.copy(QStringLiteral("sparse")))) ==
                     ReadBytes(Bytes(r.src(QStringLiteral("sparse")))));
         const qint64 used = Allocated(r.src(QStringLiteral("sparse")));
         EXPECT_LT(used, qint64(1) << 20);
         EXPECT_LE(Allocated(r.copy(QStringLiteral("sparse"))), used + (qint64(64) << 10));
     }},
    {"set_group_id_destination_takes_no_group_permissions", Destination::Disk, true, 022, 1,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"));
         Mode(r.src(QStringLiteral("d/a")), 0664);
         Mode(r.src(QStringLiteral("d")), 0775);
         r.mkdir(QStringLiteral("dst"));
         Own(r.path(QStringLiteral("dst")), kNobody, 1234);
         Mode(r.path(QStringLiteral("dst")), 02775);
     },
     [](ReplicaTest& r) {
         const struct stat a = StatOf(r.copy(QStringLiteral("d/a")));
         const struct stat d = StatOf(r.copy(QStringLiteral("d")));
         EXPECT_EQ(a.st_uid, kNobody);
         EXPECT_EQ(a.st_gid, 1234u);
         EXPECT_EQ(a.st_mode & 07777, 0604u);
         EXPECT_EQ(d.st_gid, 1234u);
         EXPECT_EQ(d.st_mode & 07777, 02705u);
     }},
    {"no_acls_there_no_more_access", Destination::NoXattrs, false, 022, 1,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("a"));
         SetXattr(r.src(QStringLiteral("a")), "user.note", "lost there");
         // Mode 0640, but the owning group may read nothing.
         SetXattr(r.src(QStringLiteral("a")), "system.posix_acl_access",
                  Acl({{UserObj, 6}, {User, 4, kNobody}, {GroupObj, 0}, {Mask, 4}, {Other, 0}}));
     },
     [](ReplicaTest& r) {
         EXPECT_EQ(StatOf(r.src(QStringLiteral("a"))).st_mode & 0777, 0640u);
         EXPECT_EQ(StatOf(r.copy(QStringLiteral("a"))).st_mode & 0777, 0600u);
         EXPECT_EQ(MtimeNs(r.copy(QStringLiteral("a"))), MtimeNs(r.src(QStringLiteral("a"))));
     }},
    {"fat_keeps_less_and_copies_every_file", Destination::Fat, false, 022, 4,
     [](ReplicaTest& r) {
         r.write(QStringLiteral("d/a"));
         r.write(QStringLiteral("d/ro"));
         r.write(QStringLiteral("b"), QByteArray(100000, 'b'));
         r.write(QStringLiteral("sparse"), {});
         WriteSparse(r.src(QStringLiteral("sparse")), qint64(4) << 20, qint64(1) << 20);
         Mode(r.src(QStringLiteral("d/ro")), 0400);
         Own(r.src(QStringLiteral("b")), 1234, 5678);
         SetXattr(r.src(QStringLiteral("d/a")), "user.note", "lost there");
         SetXattr(r.src(QStringLiteral("d/a")), "system.posix_acl_access",
                  Acl({{UserObj, 6}, {User, 4, kNobody}, {GroupObj, 4}, {Mask, 4}, {Other, 0}}));
         // Kept as 10:00:00 there: the source must not look newer.
         SetMtime(r.src(QStringLiteral("d/a")), 1600000001, 700000000);
     },
     [](ReplicaTest& r) {
         for (const char* p : {"d/a", "d/ro", "b", "sparse"})
             EXPECT_TRUE(ReadBytes(Bytes(r.copy(QLatin1String(p)))) ==
                         ReadBytes(Bytes(r.src(QLatin1String(p)))))
                 << p;
         EXPECT_EQ(MtimeNs(r.copy(QStringLiteral("d/a"))), qint64(1600000000) * 1000000000);
     }},
};

TEST_P(ReplicaTest, CopiesAreReplicasAndASecondNewerOnlyRunCopiesNothing) {
    const ReplicaCase& c = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "owners, mounts and a run as another user need root";
    Mounted destination(c.destination, t.path(QStringLiteral("dst")),
                        t.path(QStringLiteral("fat.img")));
    if (!destination.ok())
        GTEST_SKIP() << destination.why().toStdString();
    c.prepare(*this);
    if (c.asNobody)
        for (const QString& p : {t.root(), t.path(QStringLiteral("src")), src(QStringLiteral("d")),
                                 src(QStringLiteral("d/a"))})
            Own(p, kNobody, kNobody);
    Listing l = listing();
    l.IfExists = ExistingFileRule::CopyOnlyIfNewer;
    add(l);
    const mode_t before = ::umask(c.mask);
    RunResult first, second;
    {
        AsNobody nobody(c.asNobody);
        first = run();
        second = run();
    }
    ::umask(before);

    EXPECT_EQ(errorEntries(), QStringList());
    EXPECT_EQ(first.copiedCount, c.files);
    EXPECT_EQ(second.copiedCount, 0);
    EXPECT_TRUE(TemporaryLeftovers(Bytes(t.path(QStringLiteral("dst")))).isEmpty());
    c.check(*this);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplicaTest, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

class CaseTest : public RunFixture {};

// A FAT stick takes Index.html and index.html for one name: the second is a
// clash, as the preview foretells, and the first copy keeps its content.
TEST_F(CaseTest, NamesThatDifferOnlyInCaseClashWhereCaseIsIgnored) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    Mounted fat(Destination::Fat, t.path(QStringLiteral("dst")), t.path(QStringLiteral("fat.img")));
    if (!fat.ok())
        GTEST_SKIP() << fat.why().toStdString();
    t.write(QStringLiteral("src/d/Index.html"), "upper");
    t.write(QStringLiteral("src/d/index.html"), "lower");
    t.write(QStringLiteral("src/d/other.txt"), "other");
    Listing l = listing();
    l.CopyJustFiles = true;
    add(l);

    QList<QByteArray> foretold;
    PreviewList(doc, host, view, [&](const QByteArray& line) {
        if (line.startsWith("fail-clash\t"))
            foretold << line;
    });
    EXPECT_EQ(foretold.size(), 1);
    EXPECT_TRUE(foretold.value(0).contains("/index.html\t"));

    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(errorEntries(), QStringList{QStringLiteral("Copy failed: ") +
                                          t.path(QStringLiteral("src/d/index.html"))});
    EXPECT_EQ(t.read(QStringLiteral("dst/Index.html")), "upper");
}

}  // namespace

namespace {

class LinkTest : public RunFixture {
  protected:
    // src/sub/L, flattened onto dst/L.
    void addFlatListing(ListingAction action) {
        Listing l = listing();
        l.Action = action;
        l.CopyJustFiles = true;
        add(l);
    }
};

// A link that leads to the very file it would replace is that file: `cp -a`
// refuses it, and so do the run and the preview; a Move keeps the link.
TEST_F(LinkTest, ALinkToItsOwnDestinationIsTheSameFile) {
    t.write(QStringLiteral("dst/L"), "the user's file");
    t.mkdir(QStringLiteral("src/sub"));
    ASSERT_EQ(::symlink(Bytes(t.path(QStringLiteral("dst/L"))).constData(),
                        Bytes(t.path(QStringLiteral("src/sub/L"))).constData()),
              0);
    addFlatListing(ListingAction::Move);
    QList<QByteArray> foretold;
    PreviewList(doc, host, view, [&](const QByteArray& line) {
        if (line.contains("/L\t"))
            foretold << line.left(line.indexOf('\t'));
    });
    EXPECT_EQ(foretold, QList<QByteArray>{"fail-same-file"});

    run();
    EXPECT_EQ(errorEntries().value(0),
              QStringLiteral("Copy failed: ") + t.path(QStringLiteral("src/sub/L")));
    EXPECT_EQ(t.read(QStringLiteral("dst/L")), "the user's file");
    EXPECT_TRUE(QFileInfo(t.path(QStringLiteral("src/sub/L"))).isSymLink());
}

// A link's own extended attributes (its security label, trusted.*) go with
// it, as with `cp -a` and `rsync -aX`.
TEST_F(LinkTest, ALinksOwnAttributesAreCopied) {
    t.mkdir(QStringLiteral("src/sub"));
    const QByteArray link = Bytes(t.path(QStringLiteral("src/sub/L")));
    ASSERT_EQ(::symlink("nowhere", link.constData()), 0);
    if (::lsetxattr(link.constData(), "trusted.zandrel", "kept", 4, 0) != 0)
        GTEST_SKIP() << "trusted attributes need root and a file system that keeps them";
    addFlatListing(ListingAction::Copy);
    run();
    EXPECT_EQ(Xattr(t.path(QStringLiteral("dst/L")), "trusted.zandrel"), "kept");
}

}  // namespace

namespace {

struct HardLinkCase {
    const char* name;
    ListingAction action;
    ExistingFileRule rule;
    bool firstThere;  // the first name's destination stands already
    int linkedAtDestination;
};

class HardLinkTest : public RunFixture, public ::testing::WithParamInterface<HardLinkCase> {};

// Names of one file stay names of one file, as `cp -a` and `rsync -H` keep
// them; each name is still decided, counted and, in a Move, deleted on its
// own, and a name whose first copy was skipped is copied on its own.
TEST_P(HardLinkTest, NamesOfOneFileStayOneFile) {
    const HardLinkCase c = GetParam();
    t.write(QStringLiteral("src/a/x"), "shared content");
    t.mkdir(QStringLiteral("src/b"));
    t.mkdir(QStringLiteral("src/c"));
    for (const char* other : {"src/b/y", "src/c/z"})
        ASSERT_EQ(::link(Bytes(t.path(QStringLiteral("src/a/x"))).constData(),
                         Bytes(t.path(QLatin1String(other))).constData()),
                  0);
    if (c.firstThere)
        t.write(QStringLiteral("dst/x"), "an older copy");
    Listing l = listing();
    l.Action = c.action;
    l.IfExists = c.rule;
    l.CopyJustFiles = true;
    add(l);
    const auto at = [&](const char* name) {
        return t.path(QStringLiteral("dst/") + QLatin1String(name));
    };
    const RunResult r = run();
    EXPECT_TRUE(errorEntries().isEmpty()) << errorEntries().join(u'\n').toStdString();
    EXPECT_EQ(r.copiedCount, c.firstThere ? 2 : 3);
    EXPECT_EQ(t.read(QStringLiteral("dst/z")), "shared content");
    EXPECT_EQ(StatOf(at("y")).st_ino, StatOf(at("z")).st_ino);
    EXPECT_EQ(int(StatOf(at("z")).st_nlink), c.linkedAtDestination);
    EXPECT_EQ(QFile::exists(t.path(QStringLiteral("src/c/z"))), c.action == ListingAction::Copy);
}

INSTANTIATE_TEST_SUITE_P(Cases, HardLinkTest,
                         ::testing::Values(HardLinkCase{"Copy", ListingAction::Copy,
                                                        ExistingFileRule::Overwrite, false, 3},
                                           HardLinkCase{"Move", ListingAction::Move,
                                                        ExistingFileRule::Overwrite, false, 3},
                                           HardLinkCase{"FirstSkipped", ListingAction::Copy,
                                                        ExistingFileRule::SkipFile, true, 2}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
