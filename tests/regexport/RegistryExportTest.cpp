#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <ostream>

#include "regexport/RegistryExport.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

using namespace zandrel;
using zandrel::test::FakeHost;
using zandrel::test::TempTree;

namespace {

const QString kCrLf = QStringLiteral("\r\n");

template <typename T>
T* Control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no control " << name;
    return found;
}

// Puts a stand-in "regedit.exe" first on PATH for the test's duration. The
// stand-in appends one line per start to a log: each argument in brackets.
class RegistryExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oldPath_ = qgetenv("PATH");
        tree.mkdir(QStringLiteral("bin"));
        tree.mkdir(QStringLiteral("out"));
        log = tree.path(QStringLiteral("starts.log"));
    }
    void TearDown() override { qputenv("PATH", oldPath_); }

    void installStandIn(const QByteArray& script) {
        const QString program = tree.path(QStringLiteral("bin/regedit.exe"));
        tree.write(QStringLiteral("bin/regedit.exe"), script);
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner |
                                           QFile::ExeGroup | QFile::ExeOther);
        usePath(tree.path(QStringLiteral("bin")) + u':' + QString::fromLocal8Bit(oldPath_));
    }
    void installLoggingStandIn() {
        installStandIn(
            "#!/bin/sh\nline=\nfor a in \"$@\"; do line=\"$line[$a]\"; done\n"
            "printf '%s\\n' \"$line\" >> '" +
            log.toLocal8Bit() + "'\n");
    }
    static void usePath(const QString& path) { qputenv("PATH", path.toLocal8Bit()); }

    // The log's lines once it holds count of them (the starts are not waited for).
    QStringList startsLogged(int count) {
        QDeadlineTimer deadline(20000);
        QStringList lines;
        do {
            QFile f(log);
            if (f.open(QIODevice::ReadOnly))
                lines = QString::fromLocal8Bit(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
            if (lines.size() >= count)
                break;
            QTest::qWait(20);
        } while (!deadline.hasExpired());
        return lines;
    }

    std::unique_ptr<RegistryExport> open() {
        auto window = std::make_unique<RegistryExport>(host);
        window->show();
        return window;
    }

    void expectIdle(const RegistryExport& window) {
        for (const char* name : {"Combo1", "Label1", "Label3", "Frame1", "Command1"})
            EXPECT_TRUE(Control<QWidget>(window, name)->isEnabled()) << name;
        EXPECT_FALSE(Control<QLabel>(window, "Label2")->isVisible());
    }

    TempTree tree;
    FakeHost host;
    QString log;

  private:
    QByteArray oldPath_;
};

TEST_F(RegistryExportTest, OpensWithItsControlsAndTheFirstEntry) {
    auto window = open();
    EXPECT_EQ(window->objectName(), QStringLiteral("registryfrm"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Export registry"));
    EXPECT_TRUE(window->isModal());
    EXPECT_EQ(Control<QGroupBox>(*window, "Frame1")->title(), QStringLiteral("Note"));
    auto* note = Control<QLabel>(*window, "Label3");
    EXPECT_EQ(note->text(), QStringLiteral("You may need Administration rights to use this feature "
                                           "under Windows NT4/2000/XP/2003 or newer."));
    EXPECT_EQ(note->parentWidget(), Control<QGroupBox>(*window, "Frame1"));
    EXPECT_EQ(Control<QPushButton>(*window, "Command1")->text(), QStringLiteral("&Select folder"));
    EXPECT_EQ(Control<QLabel>(*window, "Label1")->text(),
              QStringLiteral("Which part of the registry do you want to export?"));
    EXPECT_EQ(Control<QLabel>(*window, "Label2")->text(),
              QStringLiteral("Working, this may take a few minutes..."));
    auto* combo = Control<QComboBox>(*window, "Combo1");
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries.append(combo->itemText(i));
    EXPECT_EQ(
        entries,
        QStringList({QStringLiteral("HKEY_CLASSES_ROOT"), QStringLiteral("HKEY_CURRENT_USER"),
                     QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("HKEY_USERS"),
                     QStringLiteral("HKEY_CURRENT_CONFIG"), QStringLiteral("All of the above!")}));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_FALSE(combo->isEditable());
    expectIdle(*window);
}

struct LineCase {
    const char* name;
    QString folder, part, file;

    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }
};

class CommandLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLines, AreBuiltToTheLetter) {
    const LineCase& c = GetParam();
    EXPECT_EQ(RegistryExport::exportFileOf(c.folder, c.part), c.file);
    // Blanks and quotes stay inside their one argument.
    EXPECT_EQ(RegistryExport::argumentsOf(c.folder, c.part),
              (QStringList{QStringLiteral("/e"), c.file, c.part}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLines,
    ::testing::Values(LineCase{"Plain", QStringLiteral("/data/backup"),
                               QStringLiteral("HKEY_USERS"),
                               QStringLiteral("/data/backup/HKEY_USERS.reg")},
                      LineCase{"Root", QStringLiteral("/"), QStringLiteral("HKEY_USERS"),
                               QStringLiteral("//HKEY_USERS.reg")},
                      LineCase{"Blanks", QStringLiteral("/my data"),
                               QStringLiteral("HKEY_CLASSES_ROOT"),
                               QStringLiteral("/my data/HKEY_CLASSES_ROOT.reg")},
                      LineCase{"Quote", QStringLiteral("/a\" b"), QStringLiteral("HKEY_USERS"),
                               QStringLiteral("/a\" b/HKEY_USERS.reg")}),
    [](const auto& p) { return std::string(p.param.name); });

struct PartCase {
    int entry;
    const char* part;
    friend void PrintTo(const PartCase& c, std::ostream* os) { *os << c.part; }
};

class OnePart : public RegistryExportTest, public ::testing::WithParamInterface<PartCase> {};

TEST_P(OnePart, StartsOneProcessWithTheExactArguments) {
    installLoggingStandIn();
    // Blanks and a double quote in the folder reach the editor unsplit.
    const QString folder = tree.path(QStringLiteral("out/my \"exports"));
    tree.mkdir(QStringLiteral("out/my \"exports"));
    const QString part = QString::fromLatin1(GetParam().part);
    host.folderAnswers = {folder + u'/'};
    auto window = open();
    Control<QComboBox>(*window, "Combo1")->setCurrentIndex(GetParam().entry);
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);

    EXPECT_EQ(host.folderTitles, QStringList{QStringLiteral("Select Folder")});
    const QString file = folder + u'/' + part + QStringLiteral(".reg");
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Done"));
    EXPECT_EQ(host.messages[0].icon, Icon::Information);
    EXPECT_EQ(host.messages[0].buttons, Buttons::Ok);
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("Exported successfully!") + kCrLf + file + kCrLf);
    EXPECT_EQ(host.yields, 0);
    expectIdle(*window);
    EXPECT_EQ(startsLogged(1), QStringList{QStringLiteral("[/e][%1][%2]").arg(file, part)});
}

INSTANTIATE_TEST_SUITE_P(Table, OnePart,
                         ::testing::Values(PartCase{0, "HKEY_CLASSES_ROOT"},
                                           PartCase{1, "HKEY_CURRENT_USER"},
                                           PartCase{2, "HKEY_LOCAL_MACHINE"},
                                           PartCase{3, "HKEY_USERS"},
                                           PartCase{4, "HKEY_CURRENT_CONFIG"}),
                         [](const auto& p) { return std::string(p.param.part); });

TEST_F(RegistryExportTest, AllOfTheAboveStartsFiveInOrderAndReportsFiveLines) {
    installLoggingStandIn();
    const QString folder = tree.path(QStringLiteral("out"));
    host.folderAnswers = {folder};
    auto window = open();
    Control<QComboBox>(*window, "Combo1")->setCurrentIndex(RegistryExport::kAllEntry);

    // Between the starts the window is busy and cannot be closed.
    int busyChecks = 0;
    host.onYield = [&] {
        for (const char* name : {"Combo1", "Label1", "Label3", "Frame1", "Command1"})
            EXPECT_FALSE(Control<QWidget>(*window, name)->isEnabled()) << name;
        EXPECT_TRUE(Control<QLabel>(*window, "Label2")->isVisible());
        window->close();
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible());
        ++busyChecks;
    };
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);

    const QStringList parts = {QStringLiteral("HKEY_CLASSES_ROOT"),
                               QStringLiteral("HKEY_CURRENT_USER"),
                               QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("HKEY_USERS"),
                               QStringLiteral("HKEY_CURRENT_CONFIG")};
    QString report;
    QStringList expectedStarts;
    for (const QString& part : parts) {
        const QString file = folder + u'/' + part + QStringLiteral(".reg");
        report += file + kCrLf;
        expectedStarts.append(QStringLiteral("[/e][%1][%2]").arg(file, part));
    }
    EXPECT_EQ(busyChecks, 5);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Done"));
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Exported successfully!") + kCrLf + report);
    expectIdle(*window);
    EXPECT_TRUE(window->isVisible());

    // The five run side by side, so they may log in any order.
    QStringList logged = startsLogged(5);
    logged.sort();
    expectedStarts.sort();
    EXPECT_EQ(logged, expectedStarts);
}

TEST_F(RegistryExportTest, RootFolderGivesADoubledSeparator) {
    installLoggingStandIn();
    host.folderAnswers = {QStringLiteral("/")};
    auto window = open();
    Control<QComboBox>(*window, "Combo1")->setCurrentIndex(3);
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Exported successfully!") + kCrLf +
                                         QStringLiteral("//HKEY_USERS.reg") + kCrLf);
    EXPECT_EQ(startsLogged(1), QStringList{QStringLiteral("[/e][//HKEY_USERS.reg][HKEY_USERS]")});
}

TEST_F(RegistryExportTest, NoRegistryEditorOnThePathShowsTheErrorAndRestoresTheControls) {
    usePath(tree.path(QStringLiteral("bin")));  // an empty folder
    host.folderAnswers = {tree.path(QStringLiteral("out"))};
    auto window = open();
    Control<QComboBox>(*window, "Combo1")->setCurrentIndex(RegistryExport::kAllEntry);
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Error"));
    EXPECT_EQ(host.messages[0].icon, Icon::Critical);
    EXPECT_EQ(host.messages[0].buttons, Buttons::Ok);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Export has encountered an error.\r\n\r\n"
                                                    "regedit.exe was not found on the PATH."));
    EXPECT_EQ(host.yields, 1);  // stopped at the first part
    expectIdle(*window);
    EXPECT_FALSE(QFile::exists(log));
}

TEST_F(RegistryExportTest, RegistryEditorThatCannotRunShowsTheError) {
    // Executable, but no program the system can start.
    installStandIn(
        QByteArray("\x7f"
                   "ELF garbage",
                   12));
    host.folderAnswers = {tree.path(QStringLiteral("out"))};
    auto window = open();
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].icon, Icon::Critical);
    EXPECT_TRUE(host.messages[0].text.startsWith(
        QStringLiteral("Export has encountered an error.\r\n\r\nregedit.exe could not be started")))
        << host.messages[0].text.toStdString();
    expectIdle(*window);
}

TEST_F(RegistryExportTest, CancellingThePickerStartsNothing) {
    installLoggingStandIn();
    host.folderAnswers = {QString(), tree.path(QStringLiteral("out"))};
    auto window = open();
    Control<QComboBox>(*window, "Combo1")->setCurrentIndex(RegistryExport::kAllEntry);
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(host.yields, 0);
    EXPECT_EQ(Control<QComboBox>(*window, "Combo1")->currentIndex(), RegistryExport::kAllEntry);
    expectIdle(*window);

    // A later export of one part is the only start the log ever sees.
    Control<QComboBox>(*window, "Combo1")->setCurrentIndex(0);
    QTest::mouseClick(Control<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_EQ(host.messages.size(), 1);
    const QStringList logged = startsLogged(1);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].endsWith(QStringLiteral("[HKEY_CLASSES_ROOT]")));
}

TEST_F(RegistryExportTest, EachExportStartsAFreshList) {
    installLoggingStandIn();
    const QString folder = tree.path(QStringLiteral("out"));
    host.folderAnswers = {folder, folder};
    auto window = open();
    auto* select = Control<QPushButton>(*window, "Command1");
    QTest::mouseClick(select, Qt::LeftButton);
    QTest::mouseClick(select, Qt::LeftButton);
    ASSERT_EQ(host.messages.size(), 2);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Exported successfully!") + kCrLf + folder +
                                         QStringLiteral("/HKEY_CLASSES_ROOT.reg") + kCrLf);
    EXPECT_EQ(host.messages[1].text, host.messages[0].text);
    EXPECT_EQ(startsLogged(2).size(), 2);
}

TEST_F(RegistryExportTest, EntryPointRunsModallyAndClosesWhenIdle) {
    bool closed = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<RegistryExport*>(QApplication::activeModalWidget());
        if (!window)
            return;
        closed = window->close();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            w->close();
    });
    guard.start(10000);
    RegistryExport(host).exec();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(host.messages.isEmpty());
}

}  // namespace
