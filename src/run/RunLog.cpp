#include "run/RunLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/FileSystem.h"
#include "common/Host.h"
#include "common/Paths.h"
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
           " errors  :  " + ShownPath(EscapedName(EncodePath(last.sourceFolder))) + "---->" +
           EscapedName(last.action.toUtf8()) + "---->" +
           ShownPath(EscapedName(EncodePath(last.destinationFolder))) + "\r\n";
}

QString Canonical(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

bool CanWriteInto(const QString& folder) {
    return fs::LooksWritable(EncodePath(folder)) && FolderExists(folder);
}

}  // namespace

#ifdef Q_OS_WIN
// Windows installs programs below Program Files (either of them) or its own
// folder, each in a folder of its own: a program anywhere below them counts.
bool IsInstalledProgramFolder(const QString& folder) {
    QStringList systemFolders = {QStringLiteral(ZANDREL_BIN_DIR)};
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"}) {
        const QString system = qEnvironmentVariable(name);
        if (!system.isEmpty())
            systemFolders << QDir::fromNativeSeparators(system);
    }
    const QString here = Canonical(folder);
    for (const QString& system : systemFolders) {
        for (QString root : {QDir::cleanPath(system), Canonical(system)}) {
            if (here.compare(root, Qt::CaseInsensitive) == 0)
                return true;
            if (!root.endsWith(u'/'))
                root += u'/';
            if (here.startsWith(root, Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}
#else
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
#endif

QStringList LogFolderCandidates() {
    QStringList folders;
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (!IsInstalledProgramFolder(programFolder) && CanWriteInto(programFolder))
        folders << programFolder;
#ifdef Q_OS_WIN
    // The user's local application data, which Windows gives every user.
    const QString userData = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!userData.isEmpty())
        folders << userData;
#else
    // Without a home Qt would place the per-user folder under the root folder.
    if (!qEnvironmentVariableIsEmpty("HOME") ||
        QDir::isAbsolutePath(qEnvironmentVariable("XDG_DATA_HOME")))
        folders << QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#endif
    return folders;
}

QString DefaultLogFolder() {
    return LogFolderCandidates().value(0);
}

LogWriteOutcome WriteLogFiles(const QStringList& folders, const RunState& state, Host& host,
                              bool withErrorsFile) {
    const bool errorsFile = withErrorsFile || !state.ErrorList.isEmpty();
    QByteArray logText;
    if (state.ErrorList.isEmpty())
        logText = SummaryLine("-->", state);
    for (const QByteArray& entry : state.ErrorList) {
        host.yield();
        logText += DateTimeBytes() + "-->" + ShownPath(EscapedName(entry)) + "\r\n";
    }
    const QByteArray errorsText = SummaryLine("----->", state);

    LogWriteOutcome outcome;
    for (const QString& folder : folders) {
        if (folder == folders.constLast())
            fs::MakeFolderPath(EncodePath(folder) + kSeparator);
        const fs::Folder dir = fs::Folder::openAsNamed(EncodePath(folder));
        fs::NewFile log(dir);
        fs::NewFile errors(dir);
        if (!dir.valid() || !log.create() || !log.write(logText) || !log.finish())
            continue;
        if (errorsFile && (!errors.create() || !errors.write(errorsText) || !errors.finish()))
            continue;
        outcome.folder = folder;
        outcome.written = log.renameTo(EncodePath(kLogFileName).constData());
        const QByteArray errorsName = EncodePath(kErrorsFileName);
        if (errorsFile) {
            outcome.written = errors.renameTo(errorsName.constData()) && outcome.written;
        } else {
            // A stale errors.txt goes, or a link planted there: never what
            // it leads to.
            const fs::FileInfo stale = dir.info(errorsName.constData(), false);
            if (stale.exists() && !dir.deleteFile(errorsName.constData(), stale.identity).ok())
                outcome.written = false;
        }
        return outcome;
    }
    return outcome;
}

}  // namespace zandrel
