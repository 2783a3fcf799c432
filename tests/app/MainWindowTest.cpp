#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "app/MainWindowFixture.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

TEST_F(MainWindowFixture, StartsUntitledWithItsCaptions) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zandrel - Untitled.bak"));
    EXPECT_EQ(statusText(), QStringLiteral("0 tasks"));
    const std::pair<const char*, const char*> captions[] = {{"Command1", "&New listing"},
                                                            {"Command2", "&Edit listing"},
                                                            {"Command5", "Select &all"},
                                                            {"Command4", "<< &Details"},
                                                            {"Command3", "&Start now -->"}};
    for (const auto& [name, caption] : captions) {
        ASSERT_NE(button(name), nullptr) << name;
        EXPECT_EQ(button(name)->text().toStdString(), caption);
    }
    const struct {
        const char* name;
        const char* text;
        const char* key;  // shown beside the caption
    } items[] = {{"openmnu", "Open...", "Ctrl+O"},
                 {"savemnu", "&Save", "Ctrl+S"},
                 {"saveasmnu", "Save &As...", "Ctrl+Shift+S"},
                 {"exportregmnu", "Export registry...", ""},
                 {"exitmnu", "E&xit", "Ctrl+Q"},
                 {"moveupmnu", "Move up", ""},
                 {"movedownmnu", "Move down", ""},
                 {"helptopicsmnu", "Help topics", "F1"},
                 {"aboutmnu", "About...", ""},
                 {"verifymnu", "Verify copies", ""},
                 {"copymnu", "Copy", ""},
                 {"selectallmnu", "Select all", "Ctrl+A"},
                 {"unselectmnu", "Unselect all", ""}};
    for (const auto& item : items) {
        ASSERT_NE(action(item.name), nullptr) << item.name;
        EXPECT_EQ(action(item.name)->text().toStdString(), item.text);
        EXPECT_EQ(action(item.name)->shortcut(), QKeySequence(QString::fromLatin1(item.key)))
            << item.name;
    }
    QStringList menus;
    for (QAction* a : window->menuBar()->actions()) menus.append(a->text());
    EXPECT_EQ(menus, (QStringList{QStringLiteral("&File"), QStringLiteral("&Rearrange"),
                                  QStringLiteral("&Help"), QStringLiteral("&Options")}));
    auto* model = list()->model();
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c)
        headers.append(model->headerData(c, Qt::Horizontal).toString());
    EXPECT_EQ(headers, (QStringList{QStringLiteral("Action"), QStringLiteral("Source directory"),
                                    QStringLiteral("Destination directory"),
                                    QStringLiteral("Description")}));
    EXPECT_EQ(reports()->headerItem()->text(0), QStringLiteral("Reports"));
}

TEST_F(MainWindowFixture, TabOrderRunsThroughTheFiveButtons) {
    const char* order[] = {"Command1", "Command2", "Command5", "Command4", "Command3"};
    for (int i = 0; i + 1 < 5; ++i)
        EXPECT_EQ(button(order[i])->nextInFocusChain(), button(order[i + 1])) << order[i];
}

TEST_F(MainWindowFixture, DetailsToggleTwiceReturnsHeightAndCaption) {
    window->show();
    const int shownHeight = window->height();
    const QPoint listPlace = list()->pos();
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(button("Command4")->text(), QStringLiteral("&Details >>"));
    EXPECT_LT(window->height(), shownHeight);
    EXPECT_FALSE(reports()->isVisible());
    EXPECT_FALSE(child<QWidget>("Picture1")->isVisible());
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(button("Command4")->text(), QStringLiteral("<< &Details"));
    EXPECT_EQ(window->height(), shownHeight);
    EXPECT_TRUE(reports()->isVisible());
    EXPECT_EQ(list()->pos(), listPlace);
}

struct MoveCase {
    const char* name;
    int rows;
    std::vector<int> selected;
    int current;
    std::vector<int> moves;          // +1 down, -1 up
    std::vector<int> expectedOrder;  // original 1-based numbers, in new order
    std::vector<int> expectedSelected;
    int expectedCurrent;
    const char* note;  // expected message text, or ""
    bool modified;
};

class MoveCases : public MainWindowFixture, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveCases, ExchangeRowsInBothListsAndKeepTheSelection) {
    const MoveCase& c = GetParam();
    addRows(c.rows);
    if (c.rows > 0)
        select(std::initializer_list<int>(), 0);
    auto* sel = list()->selectionModel();
    for (int r : c.selected)
        sel->select(list()->model()->index(r, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (c.current >= 0)
        sel->setCurrentIndex(list()->model()->index(c.current, 0), QItemSelectionModel::NoUpdate);
    for (int step : c.moves) (step > 0 ? action("movedownmnu") : action("moveupmnu"))->trigger();

    QStringList expected;
    for (int n : c.expectedOrder) expected.append(QStringLiteral("/src%1").arg(n));
    EXPECT_EQ(sources(), expected);
    for (int r = 0; r < c.rows; ++r) {
        const bool want = std::find(c.expectedSelected.begin(), c.expectedSelected.end(), r) !=
                          c.expectedSelected.end();
        EXPECT_EQ(sel->isRowSelected(r, {}), want) << "row " << r;
        // The visible row shows the line of the same row.
        EXPECT_EQ(list()->model()->index(r, 1).data().toString(), doc().fieldAt(r, 1));
    }
    EXPECT_EQ(host().currentRow(), c.expectedCurrent);
    if (*c.note) {
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_EQ(dialogs.messages[0].text.toStdString(), c.note);
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Note"));
        EXPECT_EQ(dialogs.messages[0].icon, Icon::Information);
    } else {
        EXPECT_TRUE(dialogs.messages.isEmpty());
    }
    EXPECT_EQ(doc().listModified(), c.modified);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MoveCases,
    ::testing::Values(
        MoveCase{"down_twice_from_row1", 3, {0}, 0, {+1, +1}, {2, 3, 1}, {2}, 2, "", true},
        MoveCase{
            "up_with_rows_1_and_3_selected", 4, {0, 2}, 2, {-1}, {1, 3, 2, 4}, {0, 1}, 1, "", true},
        MoveCase{"down_on_last",
                 3,
                 {2},
                 2,
                 {+1},
                 {1, 2, 3},
                 {2},
                 2,
                 "This is already the last item on the list.\r\n\r\n",
                 false},
        MoveCase{"up_on_first",
                 3,
                 {0},
                 0,
                 {-1},
                 {1, 2, 3},
                 {0},
                 0,
                 "This is already the first item on the list.\r\n\r\n",
                 false},
        MoveCase{"empty_list_is_silent", 0, {}, -1, {+1, -1}, {}, {}, -1, "", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MainWindowFixture, MoveWithoutACurrentRowShowsTheErrorAndSetsNothing) {
    addRows(2);
    list()->selectionModel()->clearCurrentIndex();
    action("movedownmnu")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Error"));
    EXPECT_EQ(dialogs.messages[0].icon, Icon::Exclamation);
    EXPECT_EQ(
        dialogs.messages[0].text,
        QStringLiteral(
            "An unexpected error occurred while attempting to rearrange your listings.\r\n\r\n"
            "It is recommended that you do not save this session."));
    EXPECT_FALSE(doc().listModified());
}

TEST_F(MainWindowFixture, SelectAllAndUnselectAll) {
    addRows(4);
    QTest::mouseClick(button("Command5"), Qt::LeftButton);
    EXPECT_EQ(host().selectedRows(), (QList<bool>{true, true, true, true}));
    action("unselectmnu")->trigger();
    EXPECT_EQ(host().selectedRows(), (QList<bool>{false, false, false, false}));
    action("selectallmnu")->trigger();
    EXPECT_EQ(host().selectedRows(), (QList<bool>{true, true, true, true}));
}

TEST_F(MainWindowFixture, ListPopupNeedsTwoRowsAndNoRun) {
    window->show();
    auto* popup = child<QMenu>("rightclickmnu2");
    const QPoint inside(20, 10);
    addRows(1);
    QTest::mouseClick(list()->viewport(), Qt::RightButton, {}, inside);
    EXPECT_FALSE(popup->isVisible());
    addRows(1);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, inside);
    QTest::mouseClick(list()->viewport(), Qt::RightButton, {}, inside);
    EXPECT_TRUE(popup->isVisible());
    popup->close();
    host().lockForRun();
    QTest::mouseClick(list()->viewport(), Qt::RightButton, {}, inside);
    EXPECT_FALSE(popup->isVisible());
    host().RestoreAfterRun();
}

TEST_F(MainWindowFixture, ReportPopupAndCopyPutTheLineOnTheClipboard) {
    window->show();
    auto* popup = child<QMenu>("rightclickmnu");
    QTest::mouseClick(reports()->viewport(), Qt::RightButton, {}, QPoint(20, 5));
    EXPECT_FALSE(popup->isVisible());
    host().appendReport(QStringLiteral("14:20:31 : Copy process initiated (Photos)"));
    host().appendReport(QStringLiteral("14:20:32 : 1 files copied....0 errors."));
    reports()->setCurrentItem(reports()->topLevelItem(0));
    QTest::mouseClick(reports()->viewport(), Qt::RightButton, {}, QPoint(20, 5));
    EXPECT_TRUE(popup->isVisible());
    popup->close();
    action("copymnu")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("14:20:31 : Copy process initiated (Photos)"));
}

TEST_F(MainWindowFixture, EditListingOnAnEmptyListShowsItsNote) {
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    // A double click on the empty list acts the same.
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[1].text, dialogs.messages[0].text);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("No listings available to edit.\r\n\r\n"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Note"));
}

TEST_F(MainWindowFixture, HelpTopicsAsksForTheContentsAndClosingQuitsTheViewer) {
    window->show();
    action("helptopicsmnu")->trigger();
    QPointer<QTextBrowser> viewer = child<QTextBrowser>("helpviewer");
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    // Context 10 is the contents: the help document beside the program.
    EXPECT_TRUE(viewer->source().toLocalFile().endsWith(QStringLiteral("/Zandrel.html")))
        << viewer->source().toString().toStdString();
    window->close();
    EXPECT_TRUE(viewer == nullptr || !viewer->isVisible());
}

struct DropCase {
    const char* name;
    const char* dropped;  // relative to the temp folder
    bool modified;
    QList<Answer> answers;
    int rowsAfter;
    QStringList texts;
};

class DropCases : public MainWindowFixture, public ::testing::WithParamInterface<DropCase> {};

TEST_P(DropCases, LoadByDrop) {
    const DropCase& c = GetParam();
    files.mkdir(QStringLiteral("folder"));
    files.write(QStringLiteral("notes.txt"), "just some text\r\n");
    files.write(QStringLiteral("weekly.list"),
                (LineFor(QStringLiteral("/a")) + QStringLiteral("\r\n") +
                 LineFor(QStringLiteral("/b")) + QStringLiteral("\r\n"))
                    .toUtf8());
    window->show();
    addRows(1);
    doc().setListModified(c.modified);
    dialogs.answers = c.answers;
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile(files.path(QString::fromUtf8(c.dropped)))});
    // As a file manager does: the drag enters, then drops.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(list()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list()->viewport(), &drop);
    EXPECT_EQ(doc().count(), c.rowsAfter);
    QStringList texts;
    for (const auto& m : dialogs.messages) texts.append(m.text);
    EXPECT_EQ(texts, c.texts);
}

const QString kPrompt =
    QStringLiteral("The listing has been modified.\r\n\r\nDo you want to save the changes?");

INSTANTIATE_TEST_SUITE_P(
    Table, DropCases,
    ::testing::Values(
        DropCase{"folder_is_ignored", "folder", false, {}, 1, {}},
        DropCase{"text_file_is_refused",
                 "notes.txt",
                 false,
                 {},
                 1,
                 {QStringLiteral("Invalid or corrupt list\r\n\r\nnotes.txt")}},
        DropCase{"valid_list_of_any_name", "weekly.list", false, {}, 2, {}},
        DropCase{"modified_list_asks_first", "weekly.list", true, {Answer::No}, 2, {kPrompt}},
        DropCase{
            "modified_list_cancel_keeps_it", "weekly.list", true, {Answer::Cancel}, 1, {kPrompt}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MainWindowFixture, SpeedTickShowsTheBytesOfTheLastSecond) {
    QLocale::setDefault(QLocale::c());
    auto* speed = child<QLabel>("lblspeed");
    host().speedTick();
    EXPECT_EQ(speed->text(), QStringLiteral("0 bytes/sec"));
    host().progress().RunBytesCopied = 1048576;
    host().speedTick();
    EXPECT_EQ(speed->text(), QStringLiteral("1.00 MB/sec"));
    host().speedTick();
    EXPECT_EQ(speed->text(), QStringLiteral("0 bytes/sec"));
}

}  // namespace

namespace {

struct OpenCase {
    const char* name;
    enum { DoubleClickRow, DoubleClickBlank, EditButton, NewButton } how;
    int rows, current;
    const char* caption;
    const char* source;
};

class EditorOpening : public MainWindowFixture, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(EditorOpening, OpensModallyOnTheRightListing) {
    const OpenCase& c = GetParam();
    window->show();
    addRows(c.rows);
    select({c.current}, c.current);
    QString caption, source, focus;
    onModal([&](QWidget* modal) {
        caption = modal->windowTitle();
        source = modal->findChild<QLineEdit*>(QStringLiteral("Text1"))->text();
        focus = modal->focusWidget() ? modal->focusWidget()->objectName() : QString();
        modal->close();
    });
    QCoreApplication::processEvents();
    const QRect row = list()->visualRect(list()->model()->index(c.current, 0));
    switch (c.how) {
        case OpenCase::DoubleClickRow:
            ASSERT_TRUE(row.isValid());
            // A double click is a click followed by the double-click press.
            QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, row.center());
            QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, row.center());
            break;
        case OpenCase::DoubleClickBlank: {
            const QPoint blank(20, list()->viewport()->height() - 5);
            ASSERT_FALSE(list()->indexAt(blank).isValid());
            QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, blank);
            break;
        }
        case OpenCase::EditButton:
            QTest::mouseClick(button("Command2"), Qt::LeftButton);
            break;
        case OpenCase::NewButton:
            QTest::mouseClick(button("Command1"), Qt::LeftButton);
            break;
    }
    EXPECT_EQ(caption.toStdString(), c.caption);
    EXPECT_EQ(source.toStdString(), c.source);
    EXPECT_EQ(focus, QStringLiteral("Text1"));
    EXPECT_EQ(doc().count(), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, EditorOpening,
    ::testing::Values(
        OpenCase{"double_click", OpenCase::DoubleClickRow, 3, 1, "Edit listing", "/src2"},
        OpenCase{"double_click_blank", OpenCase::DoubleClickBlank, 3, 1, "Edit listing", "/src2"},
        OpenCase{"new_listing", OpenCase::NewButton, 3, 1, "New listing", ""},
        // Beyond what a 16-bit row number holds.
        OpenCase{"row_32769", OpenCase::EditButton, 32770, 32768, "Edit listing", "/src32769"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MainWindowFixture, ExportRegistryOpensItsWindowModally) {
    window->show();
    QString title;
    onModal([&](QWidget* modal) {
        title = modal->windowTitle();
        modal->close();
    });
    action("exportregmnu")->trigger();
    EXPECT_EQ(title, QStringLiteral("Export registry"));
}

TEST_F(MainWindowFixture, AboutShowsNameAndVersion) {
    window->show();
    window->move(0, 0);
    QStringList texts;
    QPoint centre;
    onModal([&](QWidget* modal) {
        centre = modal->geometry().center();
        texts << modal->windowTitle() << modal->findChild<QLabel*>(QStringLiteral("Label1"))->text()
              << modal->findChild<QLabel*>(QStringLiteral("Label2"))->text();
        auto* contact = modal->findChild<QLineEdit*>(QStringLiteral("Text1"));
        // Tab from the OK button into the contact field.
        QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
        QCoreApplication::sendEvent(contact, &focusIn);
        QCoreApplication::processEvents();
        texts << contact->selectedText();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    action("aboutmnu")->trigger();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_EQ(texts[0], QStringLiteral("About"));
    EXPECT_EQ(texts[1], QStringLiteral("Zandrel"));
    EXPECT_EQ(texts[2], QStringLiteral("Version: 1.0 build #9"));
    EXPECT_FALSE(texts[3].isEmpty());
    // On the screen's centre, not on the main window's.
    const QPoint screen = window->screen()->availableGeometry().center();
    EXPECT_LE((centre - screen).manhattanLength(), 4) << centre.x() << "," << centre.y();
}

}  // namespace
