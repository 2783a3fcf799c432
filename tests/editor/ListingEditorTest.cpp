#include <gtest/gtest.h>

#include <ostream>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "common/Paths.h"
#include "editor/EditorTestSupport.h"
#include "editor/ListingEditor.h"
#include "listing/BackupList.h"
#include "listing/Listing.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

const QString kErrorNotice = QStringLiteral("Error notice");

class EditorTest : public ::testing::Test {
  protected:
    std::unique_ptr<ListingEditor> open(int editIndex) {
        auto editor = std::make_unique<ListingEditor>(doc, host, editIndex);
        editor->show();
        return editor;
    }
    QString folder(const QString& name) {
        tree.mkdir(name);
        return tree.path(name);
    }
    // A valid line whose folders exist.
    QString lineWith(const QString& rest) {
        return QStringLiteral("Copy<") + folder(QStringLiteral("s")) + u'<' +
               folder(QStringLiteral("d")) + u'<' + rest;
    }
    QStringList titles() const {
        QStringList t;
        for (const auto& m : host.messages) t.append(m.title);
        return t;
    }

    TempTree tree;
    BackupList doc;
    EditorHost host;
};

// ---- The window as it opens ------------------------------------------------

struct ControlCase {
    const char* name;
    const char* kind;   // class name
    const char* text;   // caption, or the initial text of a box
    int tab;            // page of SSTab1, -1 below the tabs
    const char* frame;  // title of the enclosing frame, "" for none
    bool checked;       // options and check boxes

    friend void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.name; }
};

class EditorControls : public EditorTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(EditorControls, HaveTheirCaptionFrameAndInitialValue) {
    const ControlCase& c = GetParam();
    auto editor = open(-1);
    auto* w = Control<QWidget>(*editor, c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(c.kind));
    const QString text = QString::fromUtf8(c.text);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_EQ(b->text(), text);
        if (b->isCheckable()) {
            EXPECT_EQ(b->isChecked(), c.checked);
        }
    } else if (auto* box = qobject_cast<QLineEdit*>(w)) {
        EXPECT_EQ(box->text(), text);
    }
    auto* tabs = Control<QTabWidget>(*editor, "SSTab1");
    int page = -1;
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->widget(i)->isAncestorOf(w))
            page = i;
    EXPECT_EQ(page, c.tab);
    QString frame;
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (auto* g = qobject_cast<QGroupBox*>(p)) {
            frame = g->title();
            break;
        }
    EXPECT_EQ(frame, QString::fromUtf8(c.frame));
    if (auto* pb = qobject_cast<QPushButton*>(w)) {
        EXPECT_FALSE(pb->autoDefault());
        EXPECT_FALSE(pb->isDefault());
    }
}

const char kRuleFrame[] = "If a source file already exists in the destination folder:";

INSTANTIATE_TEST_SUITE_P(
    Table, EditorControls,
    ::testing::Values(
        ControlCase{"Text1", "QLineEdit", "", 0, "Directory info", false},
        ControlCase{"Text2", "QLineEdit", "", 0, "Directory info", false},
        ControlCase{"Command1", "QPushButton", "..", 0, "Directory info", false},
        ControlCase{"Command2", "QPushButton", "..", 0, "Directory info", false},
        ControlCase{"Option1", "QRadioButton", "Copy files to destination folder", 1, "Method",
                    true},
        ControlCase{"Option2", "QRadioButton", "Move files to destination folder", 1, "Method",
                    false},
        ControlCase{"Check1", "QCheckBox", "Include sub-folders", 1, "Options", true},
        ControlCase{"Check2", "QCheckBox", "Copy all files to one destination folder", 1, "Options",
                    false},
        ControlCase{"Text3", "QLineEdit", "*.*", 1, "Filter file types", false},
        ControlCase{"Option5", "QRadioButton", "Overwrite file", 2, kRuleFrame, true},
        ControlCase{"Option6", "QRadioButton", "Skip the file", 2, kRuleFrame, false},
        ControlCase{"Option7", "QRadioButton",
                    "Only copy if the source file is newer than destination file (compares the "
                    "date/time)",
                    2, kRuleFrame, false},
        ControlCase{"Text5", "QLineEdit", "", 3, "", false},
        ControlCase{"Command3", "QPushButton", "&OK", -1, "", false},
        ControlCase{"Command4", "QPushButton", "Cancel", -1, "", false},
        ControlCase{"Command5", "QPushButton", "&Delete item", -1, "", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EditorTest, NewWindowShowsItsTabsLabelsAndHints) {
    auto editor = open(-1);
    EXPECT_EQ(editor->objectName(), QStringLiteral("newfrm"));
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("New listing"));
    EXPECT_TRUE(editor->isModal());
    EXPECT_FALSE(Control<QPushButton>(*editor, "Command5")->isVisible());
    auto* tabs = Control<QTabWidget>(*editor, "SSTab1");
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Directories"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Settings"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("File exists"));
    EXPECT_EQ(tabs->tabText(3), QStringLiteral("Description"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(Control<QLineEdit>(*editor, "Text5")->maxLength(), 100);

    QMap<QString, bool> labels;  // text -> bold
    for (QLabel* l : editor->findChildren<QLabel*>()) labels.insert(l->text(), l->font().bold());
    EXPECT_TRUE(labels.value(QStringLiteral("Source directory:")));
    EXPECT_TRUE(labels.value(QStringLiteral("Destination directory:")));
    for (const QString& plain :
         {QStringLiteral("Filters should be separated by a semi colon."),
          QStringLiteral("Example *.jpg;*.exe"),
          QStringLiteral("File type exclusions should start with - (negative sign)."),
          QStringLiteral("Example -*.bmp;-*.exe"),
          QStringLiteral("Description of listing (example: my written documents)")}) {
        ASSERT_TRUE(labels.contains(plain)) << plain.toStdString();
        EXPECT_FALSE(labels.value(plain));
    }
    editor->close();  // filling the boxes is no change of the user's
    EXPECT_FALSE(doc.listModified());
}

TEST_F(EditorTest, TabOrderFollowsTheControlList) {
    auto editor = open(-1);
    const QStringList expected = {
        QStringLiteral("Text1"),    QStringLiteral("Text2"),    QStringLiteral("Command1"),
        QStringLiteral("Command2"), QStringLiteral("Option1"),  QStringLiteral("Option2"),
        QStringLiteral("Check1"),   QStringLiteral("Check2"),   QStringLiteral("Text3"),
        QStringLiteral("Option5"),  QStringLiteral("Option6"),  QStringLiteral("Option7"),
        QStringLiteral("Text5"),    QStringLiteral("Command3"), QStringLiteral("Command4"),
        QStringLiteral("Command5")};
    QStringList seen;
    QWidget* start = Control<QWidget>(*editor, "Text1");
    QWidget* w = start;
    do {
        if (expected.contains(w->objectName()))
            seen.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w != start && seen.size() < expected.size());
    EXPECT_EQ(seen, expected);
}

// ---- Confirming a new Listing -------------------------------------------------

struct NewCase {
    const char* name;
    QStringList clicks;  // controls clicked in this order
    QString description;
    std::optional<QString> filter;  // typed into Text3 when set
    QString expectedTail;           // the line after source and destination
    QString expectedFilterBox;

    friend void PrintTo(const NewCase& c, std::ostream* os) { *os << c.name; }
};

class NewListing : public EditorTest, public ::testing::WithParamInterface<NewCase> {};

TEST_P(NewListing, AppendsTheExactLineAndRow) {
    const NewCase& c = GetParam();
    doc.appendLine(
        lineWith(QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<one<"
                                ":Specific|Types:*.*")));
    doc.appendLine(doc.lineAt(0));
    const QString source = folder(QStringLiteral("Data"));
    const QString destination = folder(QStringLiteral("Backup"));
    auto editor = open(-1);
    Type(*editor, "Text1", source);
    Type(*editor, "Text2", destination);
    for (const QString& name : c.clicks) Click(*editor, name.toLatin1().constData());
    if (!c.description.isEmpty())
        Type(*editor, "Text5", c.description);
    if (c.filter)
        Type(*editor, "Text3", *c.filter);
    Click(*editor, "Command3");

    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.value(0).text.toStdString();
    EXPECT_FALSE(editor->isVisible());
    ASSERT_EQ(doc.count(), 3);
    EXPECT_EQ(doc.lineAt(2), c.expectedTail.arg(source, destination));
    EXPECT_EQ(doc.data(doc.index(2, BackupList::ColumnSource), Qt::DisplayRole).toString(), source);
    EXPECT_EQ(doc.data(doc.index(2, BackupList::ColumnDestination), Qt::DisplayRole).toString(),
              destination);
    EXPECT_EQ(doc.data(doc.index(2, BackupList::ColumnDescription), Qt::DisplayRole).toString(),
              c.description);
    EXPECT_EQ(doc.data(doc.index(2, BackupList::ColumnAction), Qt::DisplayRole).toString(),
              c.expectedTail.section(u'<', 0, 0));
    EXPECT_EQ(Text(*editor, "Text3"), c.expectedFilterBox);
    EXPECT_TRUE(doc.listModified());
    EXPECT_EQ(host.statusText, QStringLiteral("3 tasks"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, NewListing,
    ::testing::Values(
        NewCase{"Defaults",
                {},
                {},
                std::nullopt,
                QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<<"
                               ":Specific|Types:*.*"),
                QStringLiteral("*.*")},
        NewCase{"EveryOtherChoice",
                {QStringLiteral("Option2"), QStringLiteral("Check1"), QStringLiteral("Check2"),
                 QStringLiteral("Option6")},
                QStringLiteral("my written documents"),
                QStringLiteral("*.jpg;*.exe"),
                QStringLiteral("Move<%1<%2<NoSubfolders<CopyJustFiles<SkipFile<my written "
                               "documents<:Specific|Types:*.jpg;*.exe"),
                QStringLiteral("*.jpg;*.exe")},
        NewCase{"OnlyIfNewer",
                {QStringLiteral("Option7")},
                {},
                QStringLiteral("-*.bmp"),
                QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<CopyOnlyIfNewer<<"
                               ":Specific|Types:-*.bmp"),
                QStringLiteral("-*.bmp")},
        NewCase{"ChoicesChangedBack",
                {QStringLiteral("Option2"), QStringLiteral("Option1"), QStringLiteral("Option7"),
                 QStringLiteral("Option6"), QStringLiteral("Check2"), QStringLiteral("Check2")},
                {},
                std::nullopt,
                QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<SkipFile<<"
                               ":Specific|Types:*.*"),
                QStringLiteral("*.*")},
        NewCase{"EmptyFilter",
                {},
                {},
                QString(),
                QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<<"
                               ":Specific|Types:*.*"),
                QStringLiteral("*.*")},
        NewCase{"DashFilter",
                {},
                {},
                QStringLiteral("-"),
                QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<<"
                               ":Specific|Types:*.*"),
                QStringLiteral("*.*")},
        NewCase{"ExclusionFilter",
                {},
                {},
                QStringLiteral("-*.bmp;-*.exe"),
                QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<<"
                               ":Specific|Types:-*.bmp;-*.exe"),
                QStringLiteral("-*.bmp;-*.exe")}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- Editing an existing Listing ------------------------------------------------

struct EditCase {
    const char* name;
    QString rest;  // the line after "Copy<source<destination<" ("%A" replaces "Copy")
    QString action;
    const char* selectedAction;
    bool subfolders, justFiles;
    const char* selectedRule;
    QString description, filter;
    QString writtenRest;  // what OK writes back after the folders

    friend void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }
};

class EditListing : public EditorTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditListing, FillsTheControlsAndWritesBack) {
    const EditCase& c = GetParam();
    const QString s = folder(QStringLiteral("s")), d = folder(QStringLiteral("d"));
    const QString head = c.action + u'<' + s + u'<' + d + u'<';
    const QString other =
        lineWith(QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<x<"
                                ":Specific|Types:*.*"));
    doc.resetLines({other, head + c.rest, other});
    auto editor = open(2);
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Edit listing"));
    EXPECT_TRUE(Control<QPushButton>(*editor, "Command5")->isVisible());
    EXPECT_TRUE(Control<QRadioButton>(*editor, c.selectedAction)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(*editor, c.selectedRule)->isChecked());
    EXPECT_EQ(Text(*editor, "Text1"), s);
    EXPECT_EQ(Text(*editor, "Text2"), d);
    EXPECT_EQ(Control<QCheckBox>(*editor, "Check1")->isChecked(), c.subfolders);
    EXPECT_EQ(Control<QCheckBox>(*editor, "Check2")->isChecked(), c.justFiles);
    EXPECT_EQ(Text(*editor, "Text5"), c.description);
    EXPECT_EQ(Text(*editor, "Text3"), c.filter);
    {
        auto untouched = open(2);  // filling the boxes is no change of the user's
        untouched->close();
        EXPECT_FALSE(doc.listModified());
    }

    Click(*editor, "Command3");
    EXPECT_TRUE(host.messages.isEmpty());
    ASSERT_EQ(doc.count(), 3);
    EXPECT_EQ(doc.lineAt(0), other);
    EXPECT_EQ(doc.lineAt(1), c.writtenRest.arg(s, d));
    EXPECT_EQ(doc.lineAt(2), other);
    EXPECT_TRUE(doc.listModified());
    EXPECT_EQ(host.statusText, QStringLiteral("3 tasks"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditListing,
    ::testing::Values(
        EditCase{
            "SkipFile",
            QStringLiteral("Subfolders<CopyFoldersAndFiles<SkipFile<docs<:Specific|Types:*.txt"),
            QStringLiteral("Copy"), "Option1", true, false, "Option6", QStringLiteral("docs"),
            QStringLiteral("*.txt"),
            QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<SkipFile<docs<"
                           ":Specific|Types:*.txt")},
        EditCase{"EveryOtherToken",
                 QStringLiteral("NoSubfolders<CopyJustFiles<CopyOnlyIfNewer<<"
                                ":Specific|Types:-*.bmp;-*.exe"),
                 QStringLiteral("Move"), "Option2", false, true, "Option7", QString(),
                 QStringLiteral("-*.bmp;-*.exe"),
                 QStringLiteral("Move<%1<%2<NoSubfolders<CopyJustFiles<CopyOnlyIfNewer<<"
                                ":Specific|Types:-*.bmp;-*.exe")},
        EditCase{"OtherCapitalisation",
                 QStringLiteral("nosubfolders<copyjustfiles<skipfile<a<:Specific|Types:*.*"),
                 QStringLiteral("move"), "Option1", true, false, "Option5", QStringLiteral("a"),
                 QStringLiteral("*.*"),
                 QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<a<"
                                ":Specific|Types:*.*")},
        EditCase{"NoMarker", QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<b<"),
                 QStringLiteral("Copy"), "Option1", true, false, "Option5", QStringLiteral("b"),
                 QString(),
                 QStringLiteral("Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<b<"
                                ":Specific|Types:*.*")}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EditorTest, ShortLineLeavesTheMissingFieldsAtTheirInitialValues) {
    doc.appendLine(QStringLiteral("Move</from"));
    auto editor = open(1);
    EXPECT_TRUE(Control<QRadioButton>(*editor, "Option2")->isChecked());
    EXPECT_EQ(Text(*editor, "Text1"), QStringLiteral("/from"));
    EXPECT_EQ(Text(*editor, "Text2"), QString());
    EXPECT_TRUE(Control<QCheckBox>(*editor, "Check1")->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(*editor, "Option5")->isChecked());
    EXPECT_EQ(Text(*editor, "Text3"), QString());  // no marker: no filter
    editor->close();
    EXPECT_FALSE(doc.listModified());
}

TEST_F(EditorTest, LongDescriptionFromAFileIsNotCut) {
    const QString longText(150, u'x');
    doc.appendLine(lineWith(QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<") + longText +
                            QStringLiteral("<:Specific|Types:*.*")));
    const QString line = doc.lineAt(0);
    auto editor = open(1);
    EXPECT_EQ(Text(*editor, "Text5"), longText);
    Click(*editor, "Command3");
    EXPECT_EQ(doc.lineAt(0), line);
}

// ---- The checks of OK --------------------------------------------------------

TEST_F(EditorTest, EmptyFieldsGetTheirNotesBeforeAnyExistenceTest) {
    auto editor = open(-1);
    Click(*editor, "Command3");
    Type(*editor, "Text1", folder(QStringLiteral("s")));
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 2);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Please specify a source folder.\r\n\r\n"));
    EXPECT_EQ(host.messages[1].text,
              QStringLiteral("Please specify a destination folder.\r\n\r\n"));
    for (const auto& m : host.messages) {
        EXPECT_EQ(m.title, QStringLiteral("Note"));
        EXPECT_EQ(m.icon, Icon::Information);
        EXPECT_EQ(m.buttons, Buttons::Ok);
    }
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(doc.count(), 0);
}

TEST_F(EditorTest, MissingSourceIsReported) {
    auto editor = open(-1);
    Type(*editor, "Text1", tree.path(QStringLiteral("nothing")));
    Type(*editor, "Text2", folder(QStringLiteral("d")));
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Source folder was not found"));
    EXPECT_EQ(host.messages[0].title, kErrorNotice);
    EXPECT_EQ(host.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(doc.count(), 0);
}

TEST_F(EditorTest, AFileIsNoSourceFolder) {
    tree.write(QStringLiteral("f"), "x");
    auto editor = open(-1);
    Type(*editor, "Text1", tree.path(QStringLiteral("f")));
    Type(*editor, "Text2", folder(QStringLiteral("d")));
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Source folder was not found"));
}

struct BadPathCase {
    const char* name;
    const char* folderName;
    bool asSource;

    friend void PrintTo(const BadPathCase& c, std::ostream* os) { *os << c.name; }
};

class BadFolderPath : public EditorTest, public ::testing::WithParamInterface<BadPathCase> {};

TEST_P(BadFolderPath, IsRefusedEvenWhenTheFolderExists) {
    const QString bad = folder(QString::fromUtf8(GetParam().folderName));
    const QString good = folder(QStringLiteral("good"));
    ASSERT_TRUE(QDir(bad).exists());
    auto editor = open(-1);
    Type(*editor, "Text1", GetParam().asSource ? bad : good);
    Type(*editor, "Text2", GetParam().asSource ? good : bad);
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, kErrorNotice);
    EXPECT_EQ(host.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("\"<\" or \"|\"")));
    EXPECT_TRUE(host.messages[0].text.endsWith(QStringLiteral("\r\n\r\n") + bad));
    EXPECT_TRUE(host.messages[0].text.contains(
        GetParam().asSource ? QStringLiteral("source") : QStringLiteral("destination")));
    EXPECT_EQ(doc.count(), 0);
    EXPECT_TRUE(editor->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Table, BadFolderPath,
                         ::testing::Values(BadPathCase{"LessThanInSource", "a<b", true},
                                           BadPathCase{"BarInSource", "a|b", true},
                                           BadPathCase{"LessThanInDestination", "c<d", false},
                                           BadPathCase{"BarInDestination", "c|d", false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(EditorTest, MissingDestinationAnsweredNoCreatesNothing) {
    const QString destination = tree.path(QStringLiteral("new/deeper"));
    host.answers = {Answer::No};
    auto editor = open(-1);
    Type(*editor, "Text1", folder(QStringLiteral("s")));
    Type(*editor, "Text2", destination);
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 1);
    const auto& m = host.messages[0];
    EXPECT_EQ(m.title, QStringLiteral("Folder not found"));
    EXPECT_EQ(m.icon, Icon::Question);
    EXPECT_EQ(m.buttons, Buttons::YesNo);
    EXPECT_EQ(m.text, QStringLiteral("Destination folder was not found:\r\n") + destination +
                          QStringLiteral("\r\n\r\nWould you like to create it?"));
    EXPECT_FALSE(tree.exists(QStringLiteral("new")));
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(doc.count(), 0);
}

TEST_F(EditorTest, MissingDestinationAnsweredYesIsCreatedWithEveryFolderOnTheWay) {
    const QString destination = tree.path(QStringLiteral("new/deeper/still"));
    host.answers = {Answer::Yes};
    auto editor = open(-1);
    Type(*editor, "Text1", folder(QStringLiteral("s")));
    Type(*editor, "Text2", destination);
    Click(*editor, "Command3");
    EXPECT_EQ(titles(), QStringList{QStringLiteral("Folder not found")});
    EXPECT_TRUE(QDir(destination).exists());
    ASSERT_EQ(doc.count(), 1);
    EXPECT_EQ(doc.fieldAt(0, FieldDestinationFolder), destination);
    EXPECT_FALSE(editor->isVisible());
}

TEST_F(EditorTest, DestinationBelowAFileCannotBeCreated) {
    tree.write(QStringLiteral("file"), "x");
    host.answers = {Answer::Yes};
    auto editor = open(-1);
    Type(*editor, "Text1", folder(QStringLiteral("s")));
    Type(*editor, "Text2", tree.path(QStringLiteral("file/sub")));
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 2);
    EXPECT_EQ(host.messages[1].text, QStringLiteral("Destination folder could not be created."));
    EXPECT_EQ(host.messages[1].title, kErrorNotice);
    EXPECT_EQ(host.messages[1].icon, Icon::Exclamation);
    EXPECT_EQ(tree.read(QStringLiteral("file")), QByteArray("x"));
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(doc.count(), 0);
}

TEST_F(EditorTest, CreatedDestinationStaysWhenALaterStepStops) {
    const QString source = folder(QStringLiteral("Same"));
    // Made on the way, then found to be the source itself.
    const QString destination = tree.path(QStringLiteral("made/../Same"));
    host.answers = {Answer::Yes};
    auto editor = open(-1);
    Type(*editor, "Text1", source);
    Type(*editor, "Text2", destination);
    Click(*editor, "Command3");
    EXPECT_EQ(titles(), QStringList({QStringLiteral("Folder not found"), kErrorNotice}));
    EXPECT_EQ(host.messages.last().text,
              QStringLiteral("Source/Destination folders are identical."));
    EXPECT_TRUE(QDir(tree.path(QStringLiteral("made"))).exists());
    EXPECT_EQ(doc.count(), 0);
}

TEST_F(EditorTest, UnwritableDestinationStopsWithTheWriteTestMessage) {
    const QString readOnly = tree.path(QStringLiteral("ro"));
    auto mount = ScopedMount::Tmpfs(readOnly, 64, true);
    if (!mount.ok())
        GTEST_SKIP() << mount.why().toStdString();
    auto editor = open(-1);
    Type(*editor, "Text1", folder(QStringLiteral("s")));
    Type(*editor, "Text2", readOnly + u'/');
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("Could not write to the following folder:\r\n\r\n") + readOnly);
    // The write test stops before the trailing separator is removed.
    EXPECT_EQ(Text(*editor, "Text2"), readOnly + u'/');
    EXPECT_EQ(doc.count(), 0);
}

// The run's rule: one folder however it is written; on Linux folders that
// differ in letter case are two.
TEST_F(EditorTest, OneFolderWrittenTwoWaysIsIdenticalButCaseIsNot) {
    const QString upper = folder(QStringLiteral("Photos"));
    auto editor = open(-1);
    Type(*editor, "Text1", upper);
    Type(*editor, "Text2", upper + QStringLiteral("/../Photos"));
    Click(*editor, "Command3");
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Source/Destination folders are identical."));
    EXPECT_EQ(host.messages[0].title, kErrorNotice);
    EXPECT_EQ(host.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(editor->isVisible());

    Type(*editor, "Text2", folder(QStringLiteral("photos")));
    Click(*editor, "Command3");
    EXPECT_EQ(host.messages.size(), 1);
    EXPECT_EQ(doc.count(), 1);
}

struct TrimCase {
    const char* name;
    QString source, destination;  // relative to the temporary folder; "/" is the root
    QString shownSource, shownDestination;
    bool confirmed;

    friend void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.name; }
};

class TrailingSeparator : public EditorTest, public ::testing::WithParamInterface<TrimCase> {};

TEST_P(TrailingSeparator, IsRemovedInTheBoxItself) {
    const TrimCase& c = GetParam();
    folder(QStringLiteral("a"));
    folder(QStringLiteral("b"));
    auto full = [&](const QString& p) { return p == QLatin1String("/") ? p : tree.path(p); };
    auto editor = open(-1);
    Type(*editor, "Text1", full(c.source));
    Type(*editor, "Text2", full(c.destination));
    Click(*editor, "Command3");
    EXPECT_EQ(Text(*editor, "Text1"), full(c.shownSource));
    EXPECT_EQ(Text(*editor, "Text2"), full(c.shownDestination));
    EXPECT_EQ(doc.count(), c.confirmed ? 1 : 0);
    if (c.confirmed) {
        EXPECT_EQ(doc.fieldAt(0, FieldSourceFolder), full(c.shownSource));
        EXPECT_EQ(doc.fieldAt(0, FieldDestinationFolder), full(c.shownDestination));
    } else {
        EXPECT_EQ(titles(), QStringList{kErrorNotice});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrailingSeparator,
    ::testing::Values(TrimCase{"BothTrimmed", QStringLiteral("a/"), QStringLiteral("b/"),
                               QStringLiteral("a"), QStringLiteral("b"), true},
                      TrimCase{"TrimmedThoughIdentical", QStringLiteral("a/"), QStringLiteral("a"),
                               QStringLiteral("a"), QStringLiteral("a"), false},
                      TrimCase{"OnlyOneRemoved", QStringLiteral("a//"), QStringLiteral("b"),
                               QStringLiteral("a/"), QStringLiteral("b"), true},
                      TrimCase{"RootStays", QStringLiteral("/"), QStringLiteral("b/"),
                               QStringLiteral("/"), QStringLiteral("b"), true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EditorTest, EnterDoesNotConfirm) {
    auto editor = open(-1);
    Type(*editor, "Text1", folder(QStringLiteral("s")));
    Type(*editor, "Text2", folder(QStringLiteral("d")));
    QTest::keyClick(Control<QLineEdit>(*editor, "Text2"), Qt::Key_Return);
    auto* ok = Control<QPushButton>(*editor, "Command3");
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    QTest::keyClick(ok, Qt::Key_Enter);
    EXPECT_EQ(doc.count(), 0);
    EXPECT_TRUE(editor->isVisible());
}

// ---- Typed and pasted characters ---------------------------------------------

struct KeyCase {
    const char* name;
    const char* box;
    QString typed;
    QString expected;

    friend void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }
};

class KeyRules : public EditorTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyRules, RefuseTheCharactersThatWouldBreakTheLine) {
    auto editor = open(-1);
    Type(*editor, GetParam().box, GetParam().typed);
    EXPECT_EQ(Text(*editor, GetParam().box), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeyRules,
    ::testing::Values(KeyCase{"FilterSemicolonTwice", "Text3", QStringLiteral("*.a;;*.b"),
                              QStringLiteral("*.a;*.b")},
                      KeyCase{"FilterSemicolonRun", "Text3", QStringLiteral("x;;;;"),
                              QStringLiteral("x;")},
                      KeyCase{"FilterSeparateSemicolons", "Text3", QStringLiteral(";a;b;"),
                              QStringLiteral(";a;b;")},
                      KeyCase{"FilterLessThanAndBar", "Text3", QStringLiteral("<*.a|*.b<"),
                              QStringLiteral("*.a*.b")},
                      KeyCase{"DescriptionLessThanBarSemicolon", "Text5",
                              QStringLiteral("my; <docs> | x"), QStringLiteral("my docs>  x")},
                      KeyCase{"DescriptionLimit", "Text5", QString(120, u'a'), QString(100, u'a')}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EditorTest, FilterSemicolonIsRefusedWhereverTheCaretStands) {
    auto editor = open(-1);
    Type(*editor, "Text3", QStringLiteral("*.a;"));
    auto* box = Control<QLineEdit>(*editor, "Text3");
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClicks(box, QStringLiteral(";"));
    EXPECT_EQ(box->text(), QStringLiteral("*.a;"));
    // Once the text no longer ends with ";", one is accepted at the caret.
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClicks(box, QStringLiteral(";"));
    EXPECT_EQ(box->text(), QStringLiteral(";*.a"));
}

TEST_F(EditorTest, RefusedKeysChangeNothing) {
    doc.appendLine(lineWith(
        QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.a;")));
    auto editor = open(1);
    QTest::keyClicks(Control<QLineEdit>(*editor, "Text5"), QStringLiteral("<|;"));
    QTest::keyClicks(Control<QLineEdit>(*editor, "Text3"), QStringLiteral("<|;"));
    editor->close();
    EXPECT_FALSE(doc.listModified());
}

TEST_F(EditorTest, PastedTextIsCleanedLikeTypedText) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("a<b|c;d"));
    if (clipboard->text() != QStringLiteral("a<b|c;d"))
        GTEST_SKIP() << "no clipboard";
    auto editor = open(-1);
    Type(*editor, "Text5", QStringLiteral("[]"));
    auto* description = Control<QLineEdit>(*editor, "Text5");
    QTest::keyClick(description, Qt::Key_Left);
    QTest::keyClick(description, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(description->text(), QStringLiteral("[abcd]"));
    EXPECT_EQ(description->cursorPosition(), 5);

    Type(*editor, "Text3", QString());
    auto* filter = Control<QLineEdit>(*editor, "Text3");
    QTest::keyClick(filter, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(filter->text(), QStringLiteral("abc;d"));
}

// ---- Ways out ----------------------------------------------------------------

enum class Way { Cancel, Escape, CloseBox, Delete };

struct CloseCase {
    const char* name;
    Way way;
    bool change;
    bool modifiedBefore;
    bool modifiedAfter;

    friend void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }
};

class Closing : public EditorTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(Closing, SetsTheStatusTextAndTheModifiedFlag) {
    const CloseCase& c = GetParam();
    const QString line =
        lineWith(QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*"));
    const QString second = line + QStringLiteral(";*.txt");
    doc.resetLines({line, second, line});
    doc.setListModified(c.modifiedBefore);
    auto editor = open(2);
    if (c.change)
        Click(*editor, "Option7");
    switch (c.way) {
        case Way::Cancel:
            Click(*editor, "Command4");
            break;
        case Way::Escape:
            QTest::keyClick(Control<QLineEdit>(*editor, "Text1"), Qt::Key_Escape);
            break;
        case Way::CloseBox:
            editor->close();
            break;
        case Way::Delete:
            Click(*editor, "Command5");
            break;
    }
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(doc.listModified(), c.modifiedAfter);
    if (c.way == Way::Delete) {
        EXPECT_EQ(doc.lines(), QStringList({line, line}));
        EXPECT_EQ(host.statusText, QStringLiteral("2 tasks"));
        ASSERT_EQ(host.messages.size(), 1);
        EXPECT_EQ(host.messages[0].text, QStringLiteral("Entry deleted successfully"));
        EXPECT_EQ(host.messages[0].title, QStringLiteral("Done"));
        EXPECT_EQ(host.messages[0].icon, Icon::Information);
    } else {
        EXPECT_EQ(doc.lines(), QStringList({line, second, line}));
        EXPECT_EQ(host.statusText, QStringLiteral("3 tasks"));
        EXPECT_TRUE(host.messages.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Closing,
    ::testing::Values(CloseCase{"CancelAfterChanges", Way::Cancel, true, false, false},
                      CloseCase{"CancelKeepsAnEarlierModification", Way::Cancel, true, true, true},
                      CloseCase{"EscapeAfterChanges", Way::Escape, true, false, false},
                      CloseCase{"CloseBoxAfterChanges", Way::CloseBox, true, false, true},
                      CloseCase{"CloseBoxWithoutChanges", Way::CloseBox, false, false, false},
                      CloseCase{"DeleteWithoutChanges", Way::Delete, false, false, true},
                      CloseCase{"DeleteAfterChanges", Way::Delete, true, false, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EditorTest, TypingMarksTheWindowChanged) {
    doc.appendLine(
        lineWith(QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*")));
    auto editor = open(1);
    QTest::keyClicks(Control<QLineEdit>(*editor, "Text5"), QStringLiteral("!"));
    editor->close();
    EXPECT_TRUE(doc.listModified());
    EXPECT_TRUE(doc.lineAt(0).contains(QStringLiteral("<d<")));
}

// ---- Folder buttons ----------------------------------------------------------

TEST_F(EditorTest, FolderButtonsPutTheChosenFolderIntoTheirBox) {
    const QString chosen = folder(QStringLiteral("chosen"));
    host.folderAnswers = {chosen + u'/', QString(), chosen};
    auto editor = open(-1);
    Click(*editor, "Command1");
    EXPECT_EQ(Text(*editor, "Text1"), ShownPath(chosen));
    Click(*editor, "Command2");  // cancelled
    EXPECT_EQ(Text(*editor, "Text2"), QString());
    Click(*editor, "Command2");
    EXPECT_EQ(Text(*editor, "Text2"), ShownPath(chosen));
    EXPECT_EQ(host.folderTitles, QStringList({QStringLiteral("Select Source Folder"),
                                              QStringLiteral("Select Destination Folder"),
                                              QStringLiteral("Select Destination Folder")}));
    EXPECT_TRUE(host.messages.isEmpty());
    editor->close();  // a chosen folder is a change
    EXPECT_TRUE(doc.listModified());
}

TEST_F(EditorTest, PickerStartsInTheTypedFolderWhenItExists) {
    const QString typed = folder(QStringLiteral("typed"));
    auto editor = open(-1);
    Type(*editor, "Text1", typed);
    Type(*editor, "Text2", tree.path(QStringLiteral("missing")));
    Click(*editor, "Command1");
    Click(*editor, "Command2");
    EXPECT_EQ(host.folderStarts, QStringList({typed, QString()}));
    EXPECT_EQ(Text(*editor, "Text1"), typed);  // both cancelled
}

TEST_F(EditorTest, FolderBoxSelectsItsTextOnFocus) {
    doc.appendLine(
        lineWith(QStringLiteral("Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*")));
    auto editor = open(1);
    editor->activateWindow();
    if (!QTest::qWaitForWindowActive(editor.get()))
        GTEST_SKIP() << "window not activated";
    for (const char* name : {"Text2", "Text1"}) {
        auto* box = Control<QLineEdit>(*editor, name);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        QCoreApplication::processEvents();
        EXPECT_TRUE(box->hasFocus());
        EXPECT_EQ(box->selectedText(), box->text()) << name;
        EXPECT_EQ(box->selectionStart(), 0);
    }
}

// ---- Opening through the entry point -----------------------------------------

TEST_F(EditorTest, EntryPointRunsModallyUntilTheWindowCloses) {
    const QString s = folder(QStringLiteral("s")), d = folder(QStringLiteral("d"));
    bool acted = false;
    QTimer::singleShot(0, [&] {
        auto* editor = qobject_cast<ListingEditor*>(QApplication::activeModalWidget());
        if (!editor)
            return;
        acted = true;
        Type(*editor, "Text1", s);
        Type(*editor, "Text2", d);
        Click(*editor, "Command3");
    });
    // Never leaves the test waiting, whatever happened above.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            w->close();
    });
    guard.start(10000);
    ListingEditor(doc, host, -1).exec();
    EXPECT_TRUE(acted);
    ASSERT_EQ(doc.count(), 1);
    EXPECT_EQ(doc.fieldAt(0, FieldSourceFolder), s);
    EXPECT_EQ(host.statusText, QStringLiteral("1 tasks"));
}

}  // namespace
