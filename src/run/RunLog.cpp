#include "run/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "run/RunState.h"
#include "run/RunTexts.h"

namespace zandrel {

namespace {

QByteArray DateTimeBytes() {
    return GeneralDateTimeText(QDateTime::currentDateTime()).toUtf8();
}

QByteArray SummaryLine(const QByteArray& arrow, const RunState& state) {
    const LastListingInfo& last = state.LastListing;
    return DateTimeBytes() + arrow + QByteArray::number(state.CopiedCount) + " files copied...." +
           QByteArray::number(state.ErrorList.size()) +
           " errors  :  " + EscapedName(EncodePath(last.sourceFolder)) + "---->" +
           EscapedName(last.action.toUtf8()) + "---->" +
           EscapedName(EncodePath(last.destinationFolder)) + "\r\n";
}

// A new file in an open folder that takes its name only when complete. It
// is made with no name (O_TMPFILE) where the file system allows it, else
// under a fresh hidden name created exclusively; neither follows a link, and
// a leftover or planted entry at a hidden name only costs another name.
class NewFile {
  public:
    explicit NewFile(int folder) : folder_(folder) {}
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { discard(); }

    bool create() {
        fd_.reset(::openat(folder_, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644));
        if (!fd_.valid() && errno != EOPNOTSUPP && errno != EISDIR)
            return false;
        if (!fd_.valid() && !withHiddenName([&](const char* name) {
                fd_.reset(::openat(folder_, name,
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
                return fd_.valid();
            }))
            return false;
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0)
            return false;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        return true;
    }

    bool write(const QByteArray& bytes) {
        for (qsizetype done = 0; ok_ && done < bytes.size();) {
            const ssize_t n = ::write(fd_.get(), bytes.constData() + done,
                                      static_cast<size_t>(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            ok_ = n > 0;
            done += n;
        }
        return ok_;
    }

    // On the disk and closed, under a hidden name; the rename is left to
    // the caller so that both files are complete before either is replaced.
    bool finish() {
        if (!ok_ || ::fsync(fd_.get()) != 0)
            return false;
        if (hidden_.isEmpty() && !withHiddenName([&](const char* name) { return link(name); }))
            return false;
        return fd_.close() == 0;
    }

    bool renameTo(const QByteArray& name) {
        if (::renameat(folder_, hidden_.constData(), folder_, name.constData()) != 0)
            return false;
        hidden_.clear();
        return true;
    }

  private:
    template <typename Make>
    bool withHiddenName(const Make& make) {
        // The first name is fixed so that tests can plant something there.
        for (int attempt = 0; attempt < 20; ++attempt) {
            QByteArray name = ".zandrel-log.new";
            if (attempt > 0)
                name += '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
            if (make(name.constData())) {
                hidden_ = name;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // Linking by descriptor needs a capability; its /proc entry needs none.
    bool link(const char* name) const {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_.get());
        return ::linkat(AT_FDCWD, proc, folder_, name, AT_SYMLINK_FOLLOW) == 0;
    }

    // A hidden name is removed only while it is still the file made here.
    void discard() {
        fd_.reset();
        struct stat st {};
        if (!hidden_.isEmpty() &&
            ::fstatat(folder_, hidden_.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            st.st_dev == device_ && st.st_ino == inode_)
            ::unlinkat(folder_, hidden_.constData(), 0);
        hidden_.clear();
    }

    int folder_;
    UniqueFd fd_;
    QByteArray hidden_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool ok_ = true;
};

QString Canonical(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

bool CanWriteInto(const QString& folder) {
    return ::faccessat(AT_FDCWD, EncodePath(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

bool IsInstalledProgramFolder(const QString& folder) {
    static const QStringList kSystemFolders = {
        QStringLiteral("/bin"),           QStringLiteral("/sbin"),
        QStringLiteral("/usr/bin"),       QStringLiteral("/usr/sbin"),
        QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/local/sbin"),
        QStringLiteral("/usr/games"),     QStringLiteral("/usr/local/games"),
        QStringLiteral("/usr/libexec"),   QStringLiteral(ZANDREL_BIN_DIR)};
    const QString here = Canonical(folder);
    for (const QString& system : kSystemFolders) {
        if (here == QDir::cleanPath(system) || here == Canonical(system))
            return true;
    }
    return false;
}

QStringList LogFolderCandidates() {
    QStringList folders;
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (!IsInstalledProgramFolder(programFolder) && CanWriteInto(programFolder))
        folders << programFolder;
    folders << QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return folders;
}

QString DefaultLogFolder() {
    return LogFolderCandidates().constFirst();
}

LogWriteOutcome WriteLogFiles(const QStringList& folders, const RunState& state, Host& host,
                              bool withErrorsFile) {
    const bool errorsFile = withErrorsFile || !state.ErrorList.isEmpty();
    QByteArray logText;
    if (state.ErrorList.isEmpty())
        logText = SummaryLine("-->", state);
    for (const QByteArray& entry : state.ErrorList) {
        host.yield();
        logText += DateTimeBytes() + "-->" + EscapedName(entry) + "\r\n";
    }
    const QByteArray errorsText = SummaryLine("----->", state);

    LogWriteOutcome outcome;
    for (const QString& folder : folders) {
        if (folder == folders.constLast())
            QDir().mkpath(folder);
        const UniqueFd dir(
            ::open(EncodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        NewFile log(dir.get());
        NewFile errors(dir.get());
        if (!dir.valid() || !log.create() || !log.write(logText) || !log.finish())
            continue;
        if (errorsFile && (!errors.create() || !errors.write(errorsText) || !errors.finish()))
            continue;
        outcome.folder = folder;
        outcome.written = log.renameTo(EncodePath(kLogFileName));
        if (errorsFile)
            outcome.written = errors.renameTo(EncodePath(kErrorsFileName)) && outcome.written;
        else if (::unlinkat(dir.get(), EncodePath(kErrorsFileName).constData(), 0) != 0 &&
                 errno != ENOENT)
            outcome.written = false;
        return outcome;
    }
    return outcome;
}

}  // namespace zandrel
