#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/MainWindow.h"
#include "app/MainWindowFixture.h"
#include "app/ProgressPanel.h"
#include "app/SummaryWindow.h"
#include "run/RunDriver.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

class RunInWindow : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        QLocale::setDefault(QLocale::c());
        window->show();
    }
    // A Listing copying folder "srcN" of the temp tree into "dstN".
    QString listingFor(int n) {
        files.mkdir(QStringLiteral("src%1").arg(n));
        files.mkdir(QStringLiteral("dst%1").arg(n));
        return QStringLiteral(
                   "Copy<%1<%2<Subfolders<CopyJustFiles<Overwrite<task %3<:Specific|Types:*.*")
            .arg(files.path(QStringLiteral("src%1").arg(n)),
                 files.path(QStringLiteral("dst%1").arg(n)))
            .arg(n);
    }
    void addListings(int n) {
        for (int i = 1; i <= n; ++i) doc().appendLine(listingFor(i));
    }
    // Long to copy in blocks yet small on disk: its blocks are reported for
    // far longer than the panel takes to show the file, whose name tells
    // whileRunning that the copy is under way.
    static constexpr qint64 kLongToCopy = qint64(64) << 30;
    void makeSparse(const QString& relative, qint64 size) {
        files.write(relative, "x");
        ASSERT_EQ(::truncate(QFile::encodeName(files.path(relative)).constData(), size), 0);
    }
    void makeFifo(const QString& relative) {
        ASSERT_EQ(::mkfifo(QFile::encodeName(files.path(relative)).constData(), 0644), 0);
    }
    QString caption() { return button("Command3")->text(); }
    SummaryWindow* summary() {
        return window->findChild<SummaryWindow*>(QStringLiteral("errorsfrm"));
    }
    // Calls act once, at the first pass of the event loop while the run copies.
    void whileRunning(std::function<void()> act) {
        auto* timer = new QTimer(window.get());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, window.get(), [this, timer, act] {
            if (caption() != kCaptionRunning ||
                child<QLabel>("lblpath")->text() == QStringLiteral("Current file"))
                return;
            timer->stop();
            timer->deleteLater();
            act();
        });
        timer->start();
    }
    QStringList messageTexts() {
        QStringList t;
        for (const auto& m : dialogs.messages) t.append(m.text);
        return t;
    }
};

TEST_F(RunInWindow, EmptyListGivesTheFirstNoteAndNothingElse) {
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("No listings available to copy.\r\n\r\n"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Note"));
    EXPECT_EQ(dialogs.messages[0].icon, Icon::Information);
    EXPECT_EQ(caption(), kCaptionIdle);
}

TEST_F(RunInWindow, NoSelectionSelectsAllAndListsEverySource) {
    addListings(3);
    dialogs.answers = {Answer::Cancel};
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Confirm"));
    EXPECT_EQ(dialogs.messages[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("The following folders are selected:\r\n\r\n") +
                  files.path(QStringLiteral("src1")) + QStringLiteral("\r\n") +
                  files.path(QStringLiteral("src2")) + QStringLiteral("\r\n") +
                  files.path(QStringLiteral("src3")) + QStringLiteral("\r\n"));
    EXPECT_EQ(host().selectedRows(), (QList<bool>{true, true, true}));
}

TEST_F(RunInWindow, CancelInTheConfirmationKeepsTheReportsAndTheWindowUnlocked) {
    addListings(1);
    host().appendReport(QStringLiteral("earlier entry"));
    dialogs.answers = {Answer::Cancel};
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_EQ(reports()->topLevelItemCount(), 1);
    EXPECT_TRUE(button("Command1")->isEnabled());
    EXPECT_TRUE(list()->isEnabled());
    EXPECT_EQ(caption(), kCaptionIdle);
}

TEST_F(RunInWindow, RowsTwoAndThreeSelectedNameMultipleDestinations) {
    addListings(4);
    for (int n : {2, 3}) makeFifo(QStringLiteral("src%1/pipe").arg(n));
    files.write(QStringLiteral("src1/one.txt"), "1");
    select({1, 2}, 2);
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("The following folders are selected:\r\n\r\n") +
                  files.path(QStringLiteral("src2")) + QStringLiteral("\r\n") +
                  files.path(QStringLiteral("src3")) + QStringLiteral("\r\n"));
    EXPECT_FALSE(files.exists(QStringLiteral("dst1/one.txt")));  // row 1 passed over
    ASSERT_NE(summary(), nullptr);
    EXPECT_EQ(summary()->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
              QStringLiteral("Destination folder: Multiple destinations"));
    EXPECT_EQ(summary()->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("0 files copied, 2 errors found."));
}

TEST_F(RunInWindow, OneFailureOpensTheSummaryWithItsDestination) {
    addListings(3);
    makeFifo(QStringLiteral("src3/pipe"));
    select({2}, 2);
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    ASSERT_NE(summary(), nullptr);
    EXPECT_TRUE(summary()->isVisible());
    EXPECT_EQ(summary()->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
              QStringLiteral("Destination folder: ") + files.path(QStringLiteral("dst3")));
    EXPECT_EQ(summary()->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("0 files copied, 1 errors found."));
    auto* items = summary()->findChild<QListWidget*>(QStringLiteral("ListView1"));
    ASSERT_EQ(items->count(), 1);
    EXPECT_EQ(items->item(0)->text(),
              QStringLiteral("Copy failed: ") + files.path(QStringLiteral("src3/pipe")));
    // Why, as the item's tooltip.
    EXPECT_EQ(items->item(0)->toolTip(), QStringLiteral("not a regular file"));
    // Back to idle, with the two closing entries last.
    EXPECT_EQ(caption(), kCaptionIdle);
    EXPECT_TRUE(button("Command1")->isEnabled());
    const int n = reports()->topLevelItemCount();
    ASSERT_GE(n, 3);
    EXPECT_TRUE(reports()->topLevelItem(n - 2)->text(0).endsWith(
        QStringLiteral(" : Finished Copy process (task 3)")));
    EXPECT_TRUE(reports()->topLevelItem(n - 1)->text(0).endsWith(
        QStringLiteral(" : 0 files copied....1 errors.")));
    EXPECT_EQ(statusText(), QStringLiteral("3 tasks"));

    // The next run's start closes it.
    dialogs.answers = {Answer::Cancel};
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(summary(), nullptr);
}

TEST_F(RunInWindow, RunWithoutFailureOpensNoSummary) {
    addListings(1);
    files.write(QStringLiteral("src1/a.txt"), "abc");
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_EQ(summary(), nullptr);
    EXPECT_EQ(files.read(QStringLiteral("dst1/a.txt")), QByteArray("abc"));
    EXPECT_TRUE(reports()
                    ->topLevelItem(reports()->topLevelItemCount() - 1)
                    ->text(0)
                    .endsWith(QStringLiteral(" : 1 files copied....0 errors.")));
    // The panel is back at its idle values.
    EXPECT_EQ(child<QLabel>("lblcopied")->text(), QStringLiteral("0"));
    EXPECT_EQ(child<QLabel>("lblpath")->text(), QStringLiteral("Current file"));
    EXPECT_EQ(child<QLabel>("lblsofar")->text(), QStringLiteral("0 bytes"));
}

TEST_F(RunInWindow, ClicksDuringARunAbortAndNoGoesOn) {
    addListings(1);
    makeSparse(QStringLiteral("src1/big.bin"), kLongToCopy);
    files.write(QStringLiteral("src1/small.txt"), "s");
    QStringList seen;
    whileRunning([&] {
        seen.append(caption());
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
        seen.append(caption());
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
        seen.append(caption());
        EXPECT_FALSE(button("Command1")->isEnabled());
        EXPECT_FALSE(list()->isEnabled());
        EXPECT_TRUE(button("Command4")->isEnabled());
    });
    dialogs.onMessage = [&](const RecordedMessage& m) {
        if (m.text == QStringLiteral("Abort process?")) {
            EXPECT_EQ(m.title, QStringLiteral("Confirm"));
            EXPECT_EQ(m.icon, Icon::Question);
            EXPECT_EQ(m.buttons, Buttons::YesNo);
            dialogs.answers.prepend(Answer::No);
        }
    };
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_EQ(seen, (QStringList{kCaptionRunning, kCaptionAborting, kCaptionAborting}));
    EXPECT_TRUE(reports()
                    ->topLevelItem(reports()->topLevelItemCount() - 2)
                    ->text(0)
                    .endsWith(QStringLiteral(" : Finished Copy process (task 1)")));
    EXPECT_TRUE(messageTexts().contains(QStringLiteral("Abort process?")));
    // The interrupted file failed and its name holds nothing partial; the run went on.
    EXPECT_FALSE(files.exists(QStringLiteral("dst1/big.bin")));
    EXPECT_EQ(files.read(QStringLiteral("dst1/small.txt")), QByteArray("s"));
    EXPECT_EQ(caption(), kCaptionIdle);
}

TEST_F(RunInWindow, ClosingDuringARunAsksItToAbort) {
    addListings(1);
    makeSparse(QStringLiteral("src1/big.bin"), kLongToCopy);
    files.write(QStringLiteral("src1/small.txt"), "s");
    bool stillOpen = false;
    whileRunning([&] {
        window->close();
        stillOpen = window->isVisible();
        EXPECT_EQ(caption(), kCaptionAborting);
        window->close();
        EXPECT_EQ(caption(), kCaptionAborting);
    });
    dialogs.onMessage = [&](const RecordedMessage& m) {
        if (m.text == QStringLiteral("Abort process?"))
            dialogs.answers.prepend(Answer::Yes);
    };
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(reports()
                    ->topLevelItem(reports()->topLevelItemCount() - 2)
                    ->text(0)
                    .endsWith(QStringLiteral(" : Aborted by user (task 1)")));
}

// "Verify copies" is kept between starts; a run with it on shows the count
// on the panel while it runs, and says what it verified in the report and
// the Summary.
TEST_F(RunInWindow, VerifyCopiesIsKeptAndTheRunSaysWhatItVerified) {
    auto* verify = window->findChild<QAction*>(QStringLiteral("verifymnu"));
    ASSERT_NE(verify, nullptr);
    EXPECT_TRUE(verify->isCheckable());
    EXPECT_FALSE(verify->isChecked());
    verify->trigger();
    EXPECT_TRUE(MainWindow(dialogs).findChild<QAction*>(QStringLiteral("verifymnu"))->isChecked());

    addListings(1);
    files.write(QStringLiteral("src1/a.txt"), "abc");
    files.write(QStringLiteral("src1/b.txt"), QByteArray(16 << 20, 'b'));
    makeFifo(QStringLiteral("src1/pipe"));
    QString shownWhileRunning;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* count = child<QLabel>("lblverified");
        window->findChild<ProgressPanel*>()->refresh();  // rather than wait for its timer
        if (caption() == kCaptionRunning && !count->isHidden()) {
            shownWhileRunning = count->text();
            // The run keeps the choice it started with.
            EXPECT_FALSE(
                window->findChild<QMenu*>(QStringLiteral("optionsmnu"))->menuAction()->isEnabled());
        }
    });
    watch.start();
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    watch.stop();
    EXPECT_FALSE(shownWhileRunning.isEmpty());
    ASSERT_NE(summary(), nullptr);
    EXPECT_EQ(summary()->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("2 files copied, 1 errors found."));
    auto* verified = summary()->findChild<QLabel*>(QStringLiteral("Label3"));
    EXPECT_FALSE(verified->isHidden());
    EXPECT_EQ(verified->text(), QStringLiteral("2 copies verified: read back from the disk, they "
                                               "match their sources."));
    EXPECT_TRUE(reports()
                    ->topLevelItem(reports()->topLevelItemCount() - 1)
                    ->text(0)
                    .endsWith(QStringLiteral(" : 2 copies verified: read back from the disk, they "
                                             "match their sources.")));
    EXPECT_EQ(files.read(QStringLiteral("dst1/b.txt")), QByteArray(16 << 20, 'b'));
    EXPECT_TRUE(child<QLabel>("lblverified")->isHidden());  // the panel is idle again

    // Off again: no count, no line.
    verify->trigger();
    dialogs.answers = {Answer::Ok};
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_TRUE(reports()
                    ->topLevelItem(reports()->topLevelItemCount() - 1)
                    ->text(0)
                    .endsWith(QStringLiteral(" : 2 files copied....1 errors.")));
    EXPECT_TRUE(summary()->findChild<QLabel*>(QStringLiteral("Label3"))->isHidden());
}

TEST(ProgressPanelTest, PercentFollowsTheBlocksAndTheBarReturnsToZero) {
    ProgressPanel panel;
    auto* percent = panel.findChild<QLabel*>(QStringLiteral("lblpercent"));
    auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("ProgressBar2"));
    panel.BeginFileProgress(10000);
    QStringList shown;
    for (qint64 pos : {4096, 8192, 10000}) {
        const QString before = percent->text();
        panel.ShowBlockProgress(pos, 10000, static_cast<double>(pos));
        // Each value shows within a refresh interval, with no further call.
        EXPECT_TRUE(QTest::qWaitFor([&] { return percent->text() != before; }, 1000));
        shown.append(percent->text());
    }
    EXPECT_EQ(shown,
              (QStringList{QStringLiteral("41"), QStringLiteral("82"), QStringLiteral("100")}));
    EXPECT_EQ(bar->value(), 10000);
    panel.EndFileProgress();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 0; }, 1000));
}

TEST(ProgressPanelTest, ABurstOfUpdatesIsShownOnceWithItsLastValue) {
    ProgressPanel panel;
    auto* copied = panel.findChild<QLabel*>(QStringLiteral("lblcopied"));
    panel.refresh();  // a refresh interval starts now
    QElapsedTimer burst;
    burst.start();
    for (int i = 1; i <= 1000; ++i) panel.showCopiedCount(i);
    if (burst.elapsed() < 30) {
        EXPECT_EQ(copied->text(), QStringLiteral("0"));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return copied->text() == QStringLiteral("1000"); }, 1000));
}

TEST(ProgressPanelTest, OverallBarPerFileAndSkippedCounter) {
    ProgressPanel panel;
    auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    auto* skipped = panel.findChild<QLabel*>(QStringLiteral("lblskipped"));
    QList<int> values;
    for (int i = 1; i <= 4; ++i) {
        panel.ShowOverallProgress(i, 4);
        panel.refresh();
        values.append(bar->value());
    }
    EXPECT_EQ(values, (QList<int>{25, 50, 75, 100}));
    panel.ShowOverallProgress(1, 3);
    panel.addSkipped();
    panel.addSkipped();
    panel.refresh();
    EXPECT_EQ(bar->value(), 33);
    EXPECT_EQ(skipped->text(), QStringLiteral("2"));
    panel.reset();
    EXPECT_EQ(skipped->text(), QStringLiteral("0"));
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(RunInWindow, SummarySaveAsReplacesAnExistingFileAndCancelWritesNothing) {
    SummaryWindow summaryWindow(host());
    summaryWindow.showSummary(
        {QByteArray("Copy failed: /a/x.txt"), QByteArray("Delete failed: /a/\xff.txt")}, 3,
        QStringLiteral("Destination folder: /b"));
    files.write(QStringLiteral("errors.txt"), QByteArray(1000, 'o'));
    dialogs.fileDialogAnswers = {files.path(QStringLiteral("errors.txt")), QString()};
    summaryWindow.saveAs();
    EXPECT_EQ(dialogs.fileDialogs[0].filter, QStringLiteral("Text file (*.txt)|*.txt"));
    EXPECT_EQ(files.read(QStringLiteral("errors.txt")),
              QByteArray("Copy failed: /a/x.txt\r\nDelete failed: /a/\xff.txt\r\n"));
    summaryWindow.saveAs();  // cancelled
    EXPECT_EQ(files.read(QStringLiteral("errors.txt")).size(), 48);
    EXPECT_EQ(summaryWindow.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("3 files copied, 2 errors found."));
}

}  // namespace
