#pragma once
// A run on real temporary folders, driven through the scripted host and the
// recording view.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/Listing.h"
#include "run/FakeRunView.h"
#include "run/RunDriver.h"
#include "run/TestFiles.h"
#include "support/FakeClock.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

namespace zandrel::test {

class RunFixture : public ::testing::Test {
  protected:
    RunFixture() : driver(doc, host, view, view, flags, progress) {
        driver.setLogFolder(t.path(QStringLiteral("logs")));
        driver.setClock(clock);
        t.mkdir(QStringLiteral("logs"));
    }
    ~RunFixture() override { RemoveTreeContents(QFile::encodeName(t.root())); }

    // A Listing from src to dst (folders below the temporary root), all rows
    // selected unless told otherwise.
    Listing listing(const QString& src = QStringLiteral("src"),
                    const QString& dst = QStringLiteral("dst")) const {
        Listing l;
        l.Action = ListingAction::Copy;
        l.SourceFolder = t.path(src);
        l.DestinationFolder = t.path(dst);
        l.IncludeSubfolders = true;
        l.CopyJustFiles = false;
        l.IfExists = ExistingFileRule::Overwrite;
        l.Description = QStringLiteral("Test");
        l.Filter = QStringLiteral("*.*");
        return l;
    }
    void add(const Listing& l) {
        doc.appendLine(EncodeListingLine(l));
        view.rows = doc.count();
    }
    void addLine(const QString& line) {
        doc.appendLine(line);
        view.rows = doc.count();
    }

    RunResult run() { return driver.Command3_Click(); }

    // Where a file of the source lands when the structure is kept: below the
    // root "/" and the first folder level.
    static QString below(const QString& absolute) { return absolute.section(u'/', 2); }
    QString kept(const QString& dst, const QString& srcRelative) const {
        return dst + u'/' + below(t.path(srcRelative));
    }

    // Report entries without their time of day; each must carry one.
    QStringList entries() const {
        static const QRegularExpression time(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}(?= : )"));
        QStringList out;
        for (const QString& r : host.reports) {
            const auto m = time.match(r);
            EXPECT_TRUE(m.hasMatch()) << r.toStdString();
            out << r.mid(m.capturedLength());
        }
        return out;
    }
    QStringList messageTexts() const {
        QStringList out;
        for (const auto& m : host.messages) out << m.title + QStringLiteral(": ") + m.text;
        return out;
    }
    QStringList errorEntries() const {
        QStringList out;
        for (const QByteArray& e : driver.state().ErrorList) out << QString::fromUtf8(e);
        return out;
    }

    TempTree t;
    BackupList doc;
    FakeHost host;
    FakeClock clock;
    FakeRunView view;
    SessionFlags flags;
    RunProgress progress;
    RunDriver driver;
};

}  // namespace zandrel::test
