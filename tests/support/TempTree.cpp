#include "support/TempTree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace zandrel::test {

QList<QByteArray> EntryNames(const QByteArray& folder) {
    QList<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    return names;
}

TempTree::TempTree() {
    if (!dir_.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

QString TempTree::path(const QString& relative) const {
    return relative.isEmpty() ? root() : root() + u'/' + relative;
}

void TempTree::write(const QString& relative, const QByteArray& bytes) const {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).path());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

void TempTree::mkdir(const QString& relative) const {
    QDir().mkpath(path(relative));
}

QByteArray TempTree::read(const QString& relative) const {
    QFile f(path(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool TempTree::exists(const QString& relative) const {
    return QFileInfo::exists(path(relative));
}

QString TempTree::copyProgram() const {
    const QString binary = qEnvironmentVariable("ZANDREL_BINARY");
    if (binary.isEmpty())
        return {};
    mkdir(QStringLiteral("bin"));
    const QString program = path(QStringLiteral("bin/zandrel"));
    if (!QFile::copy(binary, program))
        return {};
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
}

void TempTree::setMtime(const QString& relative, qint64 seconds) const {
    struct utimbuf times {};
    times.actime = static_cast<time_t>(seconds);
    times.modtime = static_cast<time_t>(seconds);
    ::utime(QFile::encodeName(path(relative)).constData(), &times);
}

}  // namespace zandrel::test
