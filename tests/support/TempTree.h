#pragma once
// A temporary folder with helpers to lay out and read back real files.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

namespace zandrel::test {

// The names in a folder as bytes, without "." and ".."; none when it cannot
// be read. Byte names reach entries that are not valid UTF-8.
QList<QByteArray> EntryNames(const QByteArray& folder);

class TempTree {
  public:
    TempTree();
    QString root() const { return dir_.path(); }
    QString path(const QString& relative) const;
    // Creates the file and any folders before it.
    void write(const QString& relative, const QByteArray& bytes) const;
    void mkdir(const QString& relative) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;
    // A copy of the built program (ZANDREL_BINARY) in "bin/", so that the log
    // files it writes beside itself never meet another test's; empty when
    // the variable is not set or the copy failed.
    QString copyProgram() const;
    // Sets the modification time, in whole seconds since the epoch.
    void setMtime(const QString& relative, qint64 seconds) const;

  private:
    QTemporaryDir dir_;
};

}  // namespace zandrel::test
