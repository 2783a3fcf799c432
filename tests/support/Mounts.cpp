#include "support/Mounts.h"

#include <QDir>
#include <QProcess>

namespace zandrel::test {

namespace {

bool Run(const QStringList& args, QString* why) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("mount"), args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (why)
            *why =
                QStringLiteral("mount refused: ") + QString::fromLocal8Bit(p.readAll()).trimmed();
        return false;
    }
    return true;
}

}  // namespace

ScopedMount ScopedMount::Tmpfs(const QString& folder, int sizeKiB, bool readOnly) {
    ScopedMount m;
    QDir().mkpath(folder);
    QString options = QStringLiteral("size=%1k").arg(sizeKiB);
    if (readOnly)
        options += QStringLiteral(",ro");
    if (Run({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), options,
             QStringLiteral("tmpfs"), folder},
            &m.why_))
        m.target_ = folder;
    return m;
}

ScopedMount ScopedMount::ReadOnlyBind(const QString& folder, const QString& target) {
    ScopedMount m;
    QDir().mkpath(target);
    if (!Run({QStringLiteral("--bind"), folder, target}, &m.why_))
        return m;
    m.target_ = target;
    if (!Run({QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), target}, &m.why_)) {
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), target});
        m.target_.clear();
    }
    return m;
}

bool ScopedMount::remount(bool readOnly) {
    if (!ok())
        return false;
    return Run({QStringLiteral("-o"),
                readOnly ? QStringLiteral("remount,ro") : QStringLiteral("remount,rw"), target_},
               &why_);
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept
    : target_(std::move(other.target_)), why_(std::move(other.why_)) {
    other.target_.clear();
}

ScopedMount::~ScopedMount() {
    if (!target_.isEmpty())
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), target_});
}

}  // namespace zandrel::test
