#include "run/RunLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "run/RunState.h"
#include "run/RunTexts.h"

namespace zandrel {

namespace {

bool CanCreateFilesIn(const QString& folder) {
    const QByteArray probe = EncodePath(JoinPath(folder, QStringLiteral(".zandrel-log-probe")));
    UniqueFd fd(::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid())
        return false;
    fd.reset();
    ::unlink(probe.constData());
    return true;
}

QByteArray DateTimeBytes() {
    return GeneralDateTimeText(QDateTime::currentDateTime()).toUtf8();
}

QByteArray SummaryLine(const QByteArray& arrow, const RunState& state) {
    const LastListingInfo& last = state.LastListing;
    return DateTimeBytes() + arrow + QByteArray::number(state.CopiedCount) + " files copied...." +
           QByteArray::number(state.ErrorList.size()) +
           " errors  :  " + EncodePath(last.sourceFolder) + "---->" + last.action.toUtf8() +
           "---->" + EncodePath(last.destinationFolder) + "\r\n";
}

class LogFile {
  public:
    explicit LogFile(const QString& path)
        : fd_(::open(EncodePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                     0644)) {}
    void write(const QByteArray& line) {
        for (qsizetype done = 0; ok() && done < line.size();) {
            const ssize_t n = ::write(fd_.get(), line.constData() + done, line.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = true;
                return;
            }
            done += n;
        }
    }
    bool ok() const { return fd_.valid() && !failed_; }

  private:
    UniqueFd fd_;
    bool failed_ = false;
};

}  // namespace

QString DefaultLogFolder() {
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (CanCreateFilesIn(programFolder))
        return programFolder;
    const QString own = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(own);
    return own;
}

bool WriteLogFiles(const QString& folder, const RunState& state, Host& host) {
    const QString logPath = JoinPath(folder, kLogFileName);
    const QString errorsPath = JoinPath(folder, kErrorsFileName);
    ::unlink(EncodePath(logPath).constData());
    ::unlink(EncodePath(errorsPath).constData());

    LogFile log(logPath);
    if (state.ErrorList.isEmpty()) {
        log.write(SummaryLine("-->", state));
        return log.ok();
    }
    for (const QByteArray& entry : state.ErrorList) {
        host.yield();
        log.write(DateTimeBytes() + "-->" + entry + "\r\n");
    }
    LogFile errors(errorsPath);
    errors.write(SummaryLine("----->", state));
    return log.ok() && errors.ok();
}

}  // namespace zandrel
