#include "support/Mounts.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

#include <QDir>
#include <QFile>
#include <QProcess>

namespace zandrel::test {

namespace {

bool RunProgram(const QString& program, const QStringList& args, QString* why,
                QByteArray* out = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const QByteArray said = p.readAll();
    if (out)
        *out = said;
    if (!ok && why)
        *why = program + QStringLiteral(" refused: ") + QString::fromLocal8Bit(said).trimmed();
    return ok;
}

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

ScopedMount ScopedMount::Formatted(Image kind, const QString& image, const QString& folder,
                                   int sizeMiB) {
    ScopedMount m;
    m.kind_ = kind;
    m.image_ = image;
    QDir().mkpath(folder);
    QFile::remove(image);
    if (!RunProgram(QStringLiteral("truncate"), {QStringLiteral("-s%1M").arg(sizeMiB), image},
                    &m.why_))
        return m;
    const bool made =
        kind == Image::Fat ? RunProgram(QStringLiteral("mkfs.vfat"), {image}, &m.why_)
        : kind == Image::Exfat
            ? RunProgram(QStringLiteral("mkfs.exfat"), {image}, &m.why_)
            : RunProgram(QStringLiteral("mkfs.ext4"),
                         {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-O"),
                          QStringLiteral("^has_journal"), image},
                         &m.why_);
    if (!made)
        return m;
    m.target_ = folder;
    if (!m.mountImage())
        m.target_.clear();
    return m;
}

bool ScopedMount::mountImage() {
    switch (kind_) {
        case Image::Fat:
            return RunProgram(QStringLiteral("fusefat"),
                              {QStringLiteral("-o"), QStringLiteral("rw+"), image_, target_},
                              &why_);
        case Image::Exfat:
        case Image::Ext4NoJournal: {
            // exfat-fuse, as the desktop mounts a stick, wants a block device.
            QByteArray device;
            if (!RunProgram(QStringLiteral("losetup"),
                            {QStringLiteral("-f"), QStringLiteral("--show"), image_}, &why_,
                            &device))
                return false;
            loop_ = QString::fromLocal8Bit(device).trimmed();
            if (kind_ == Image::Exfat
                    ? RunProgram(QStringLiteral("mount.exfat-fuse"), {loop_, target_}, &why_)
                    : Run({loop_, target_}, &why_))
                return true;
            RunProgram(QStringLiteral("losetup"), {QStringLiteral("-d"), loop_}, nullptr);
            loop_.clear();
            return false;
        }
    }
    return false;
}

bool ScopedMount::remountImage() {
    if (!ok() || image_.isEmpty())
        return false;
    RunProgram(QStringLiteral("umount"), {target_}, &why_);
    if (!loop_.isEmpty())
        RunProgram(QStringLiteral("losetup"), {QStringLiteral("-d"), loop_}, nullptr);
    loop_.clear();
    return mountImage();
}

bool ScopedMount::remount(bool readOnly) {
    if (!ok())
        return false;
    return Run({QStringLiteral("-o"),
                readOnly ? QStringLiteral("remount,ro") : QStringLiteral("remount,rw"), target_},
               &why_);
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept
    : target_(std::move(other.target_)),
      why_(std::move(other.why_)),
      image_(std::move(other.image_)),
      kind_(other.kind_),
      loop_(std::move(other.loop_)) {
    other.target_.clear();
    other.loop_.clear();
}

ScopedMount::~ScopedMount() {
    if (!target_.isEmpty())
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), target_});
    if (!loop_.isEmpty())
        QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), loop_});
}

void DropCaches() {
#ifndef Q_OS_WIN
    ::sync();
#endif
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (drop.open(QIODevice::WriteOnly))
        drop.write("2\n");
}

}  // namespace zandrel::test
