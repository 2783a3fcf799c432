// Windows only: where a command-line run writes its logs, and when it has a
// display to show its window on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <map>
#include <string>

#include "run/HeadlessRun.h"
#include "run/RunLog.h"
#include "support/TempTree.h"

using namespace zandrel;
using zandrel::test::TempTree;

namespace {

// Sets variables for one test and puts back what was there before.
class ScopedEnvironment {
  public:
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name.c_str());
            else
                qputenv(name.c_str(), value);
        }
    }
    void set(const char* name, const QByteArray& value) {
        keep(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

  private:
    void keep(const char* name) {
        if (!saved_.count(name))
            saved_[name] = qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray();
    }
    std::map<std::string, QByteArray> saved_;
};

// A user's session shows windows whatever the display variables say (Wine
// takes its display from DISPLAY; without one a run ends headless, which
// WindowsCommandLine checks on the real programs).
TEST(WindowsDisplay, AnInteractiveSessionHasOne) {
    ScopedEnvironment env;
    env.set("QT_QPA_PLATFORM", {});
    env.set("DISPLAY", ":0");
    env.set("WAYLAND_DISPLAY", {});
    EXPECT_FALSE(NoDisplayAvailable());
    env.set("QT_QPA_PLATFORM", "windows");
    EXPECT_FALSE(NoDisplayAvailable());
}

TEST(WindowsDisplay, TheOffscreenPlatformStillMeansNone) {
    ScopedEnvironment env;
    env.set("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(NoDisplayAvailable());
    env.set("QT_QPA_PLATFORM", "minimal");
    EXPECT_TRUE(NoDisplayAvailable());
}

// Program Files and the system's folder are made temporary folders, so that
// what lies below them can be made and named.
class WindowsInstalledFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        t.mkdir(QStringLiteral("Program Files/Zandrel/bin"));
        t.mkdir(QStringLiteral("Program Files (x86)/Old"));
        t.mkdir(QStringLiteral("Program Files Extra/Zandrel"));
        t.mkdir(QStringLiteral("Windows/System32"));
        t.mkdir(QStringLiteral("Users/ann/Zandrel"));
        env.set("ProgramFiles", native("Program Files"));
        env.set("ProgramFiles(x86)", native("Program Files (x86)"));
        env.set("ProgramW6432", native("Program Files"));
        env.set("SystemRoot", native("Windows"));
    }
    QByteArray native(const char* relative) const {
        return QDir::toNativeSeparators(t.path(QString::fromUtf8(relative))).toUtf8();
    }
    bool installed(const char* relative) const {
        return IsInstalledProgramFolder(t.path(QString::fromUtf8(relative)));
    }
    TempTree t;
    ScopedEnvironment env;
};

TEST_F(WindowsInstalledFolder, AnyFolderBelowProgramFilesOrTheSystemIsInstalled) {
    EXPECT_TRUE(installed("Program Files"));
    EXPECT_TRUE(installed("Program Files/Zandrel"));
    EXPECT_TRUE(installed("Program Files/Zandrel/bin"));
    EXPECT_TRUE(installed("Program Files (x86)/Old"));
    EXPECT_TRUE(installed("Windows/System32"));
}

TEST_F(WindowsInstalledFolder, LetterCaseAndBackslashesDoNotHideIt) {
    EXPECT_TRUE(IsInstalledProgramFolder(QString::fromUtf8(native("Program Files/Zandrel"))));
    EXPECT_TRUE(IsInstalledProgramFolder(t.path(QStringLiteral("PROGRAM FILES/zandrel"))));
}

TEST_F(WindowsInstalledFolder, AFolderOfItsOwnIsNot) {
    EXPECT_FALSE(installed("Users/ann/Zandrel"));
    // Named like Program Files, but beside it.
    EXPECT_FALSE(installed("Program Files Extra/Zandrel"));
    EXPECT_FALSE(installed(""));
}

TEST_F(WindowsInstalledFolder, WithoutTheVariablesOnlyTheConfiguredFolderCounts) {
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"})
        env.set(name, {});
    EXPECT_FALSE(installed("Program Files/Zandrel"));
    EXPECT_TRUE(IsInstalledProgramFolder(QStringLiteral(ZANDREL_BIN_DIR)));
}

TEST(WindowsLogFolders, TheProgramsOwnFolderThenTheUsersLocalDataEvenWithoutAHome) {
    ScopedEnvironment env;
    env.set("HOME", {});
    env.set("XDG_DATA_HOME", {});
    const QStringList folders = LogFolderCandidates();
    const QString userData = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    ASSERT_FALSE(userData.isEmpty());
    ASSERT_EQ(folders.size(), 2);
    // The tests run from the build folder, which is no installed program's.
    EXPECT_EQ(folders[0], QCoreApplication::applicationDirPath());
    EXPECT_EQ(folders[1], userData);
    EXPECT_EQ(DefaultLogFolder(), folders[0]);
}

}  // namespace
