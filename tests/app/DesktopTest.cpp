// The desktop's conventions: the usual keys, and a window that can be made
// larger and remembers its size.
#include <QTest>
#include <QTextBrowser>

#include "app/MainWindowFixture.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

struct KeyCase {
    const char* name;
    QKeyCombination key;
    bool onList;          // pressed while the Listing list has the focus
    const char* idle;     // what it does
    const char* running;  // what it does during a run
};

class Keys : public MainWindowFixture, public ::testing::WithParamInterface<KeyCase> {
  protected:
    // What the key did, as a user would see it.
    QString press(const KeyCase& c) {
        QString modalCaption;
        onModal([&](QWidget* modal) {
            modalCaption = modal->windowTitle();
            modal->close();
        });
        (c.onList ? static_cast<QWidget*>(list()) : button("Command4"))->setFocus();
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : window.get(), c.key.key(), c.key.keyboardModifiers());
        QCoreApplication::processEvents();
        QStringList seen;
        for (const FileDialogRequest& r : dialogs.fileDialogs)
            seen << (r.kind == FileDialogRequest::Kind::Open ? QStringLiteral("open dialog")
                                                             : QStringLiteral("save dialog"));
        if (!modalCaption.isEmpty())
            seen << modalCaption;
        if (host().selectedRows() == QList<bool>(doc().count(), true))
            seen << QStringLiteral("all selected");
        if (auto* help = child<QTextBrowser>("helpviewer"); help && help->isVisible())
            seen << QStringLiteral("help");
        if (!window->isVisible())
            seen << QStringLiteral("closed");
        return seen.join(QStringLiteral(", "));
    }
    void showWithRows() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        addRows(3);
        select({}, 1);
    }
};

TEST_P(Keys, DoTheirCommand) {
    showWithRows();
    EXPECT_EQ(press(GetParam()).toStdString(), GetParam().idle);
}

TEST_P(Keys, DoNothingOfTheLockedCommandsDuringARun) {
    showWithRows();
    host().lockForRun();
    EXPECT_EQ(press(GetParam()).toStdString(), GetParam().running);
    host().RestoreAfterRun();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Keys,
    ::testing::Values(
        KeyCase{"open", Qt::CTRL | Qt::Key_O, false, "open dialog", ""},
        KeyCase{"save_untitled", Qt::CTRL | Qt::Key_S, false, "save dialog", ""},
        KeyCase{"save_as", Qt::CTRL | Qt::SHIFT | Qt::Key_S, false, "save dialog", ""},
        KeyCase{"exit", Qt::CTRL | Qt::Key_Q, false, "closed", ""},
        KeyCase{"help", QKeyCombination(Qt::Key_F1), false, "help", "help"},
        KeyCase{"new_listing", Qt::CTRL | Qt::Key_N, false, "New listing", ""},
        KeyCase{"select_all", Qt::CTRL | Qt::Key_A, false, "all selected", ""},
        KeyCase{"select_all_in_list", Qt::CTRL | Qt::Key_A, true, "all selected", ""},
        KeyCase{"enter_edits", QKeyCombination(Qt::Key_Return), true, "Edit listing", ""},
        KeyCase{"keypad_enter_edits", Qt::KeypadModifier | Qt::Key_Enter, true, "Edit listing",
                ""}),
    [](const auto& p) { return std::string(p.param.name); });

class Resizing : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        window->show();
        designed = window->size();
    }
    void resizeBy(int dx, int dy) {
        window->resize(designed + QSize(dx, dy));
        QCoreApplication::processEvents();
    }
    QSize designed;
};

TEST_F(Resizing, TheListsGrowAndTheOtherControlsKeepTheirPlaces) {
    EXPECT_EQ(window->minimumSize(), designed);
    const QRect list0 = list()->geometry(), reports0 = reports()->geometry();
    const QRect new0 = button("Command1")->geometry(), start0 = button("Command3")->geometry();
    const QRect panel0 = child<QWidget>("Picture1")->geometry();
    const int width1 = list()->columnWidth(1);
    resizeBy(120, 90);
    ASSERT_EQ(window->size(), designed + QSize(120, 90));
    const int listTaller = list()->height() - list0.height();
    EXPECT_GT(listTaller, 0);
    EXPECT_GT(reports()->height(), reports0.height());
    EXPECT_EQ(listTaller + reports()->height() - reports0.height(), 90);
    EXPECT_EQ(list()->width(), list0.width() + 120);
    EXPECT_EQ(reports()->width(), reports0.width() + 120);
    // The paths' and the description's columns share the extra width.
    EXPECT_EQ(list()->columnWidth(1) + list()->columnWidth(2) + list()->columnWidth(3),
              3 * list()->columnWidth(1));
    EXPECT_EQ(list()->columnWidth(1) - width1, 40);
    // Below the list everything moves down with it; the right-hand controls
    // keep to the right edge; none changes its size.
    EXPECT_EQ(button("Command1")->geometry(), new0.translated(0, listTaller));
    EXPECT_EQ(button("Command3")->geometry(), start0.translated(120, listTaller));
    EXPECT_EQ(child<QWidget>("Picture1")->geometry(), panel0.translated(120, listTaller));
    resizeBy(-50, -50);
    EXPECT_EQ(window->size(), designed);
}

TEST_F(Resizing, DetailsToggleKeepsTheListAndReturnsToTheSameHeight) {
    resizeBy(40, 60);
    const QRect list0 = list()->geometry();
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(list()->geometry(), list0);
    EXPECT_LT(window->height(), designed.height());
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(window->size(), designed + QSize(40, 60));
    EXPECT_EQ(list()->geometry(), list0);
}

TEST_F(Resizing, SizeIsRememberedBetweenStarts) {
    resizeBy(60, 40);
    // Closed with the details hidden: the next start shows them at the same size.
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    ASSERT_TRUE(window->close());
    window = std::make_unique<MainWindow>(dialogs);
    window->show();
    EXPECT_EQ(window->size(), designed + QSize(60, 40));
    // A remembered size below the designed one gives the designed one.
    QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Zandrel"),
              QStringLiteral("Zandrel"))
        .setValue(QStringLiteral("MainWindow/Size"), QSize(100, 100));
    window = std::make_unique<MainWindow>(dialogs);
    EXPECT_EQ(window->size(), designed);
}

}  // namespace
