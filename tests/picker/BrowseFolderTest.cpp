#include <gtest/gtest.h>

#include <ostream>

#include <QDir>
#include <QWidget>

#include "common/Paths.h"
#include "picker/BrowseFolder.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using zandrel::test::FakeHost;
using zandrel::test::TempTree;

namespace {

// Also records where each dialog was asked to start.
class PickerHost : public FakeHost {
  public:
    QString chooseFolder(const QString& title, const QString& startFolder) override {
        starts.append(startFolder);
        return FakeHost::chooseFolder(title, startFolder);
    }
    QStringList starts;
};

TEST(BrowseFolder, StartsWithTheDocumentedDefaults) {
    PickerHost host;
    cBrowseFolder picker(host);
    EXPECT_EQ(picker.lFlags, 1);
    EXPECT_FALSE(picker.bCancelled);
    EXPECT_EQ(picker.lhWnd, nullptr);
    EXPECT_TRUE(picker.sTitle.isEmpty());
    EXPECT_TRUE(picker.sFolder.isEmpty());
}

struct AnswerCase {
    const char* name;
    QString answer;    // what the dialog gives back; "" is Cancel
    QString expected;  // "" expects bCancelled

    friend void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }
};

class PickerAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(PickerAnswers, GiveAnAbsoluteFolderOrTheCancelledFlag) {
    PickerHost host;
    host.folderAnswers = {GetParam().answer};
    cBrowseFolder picker(host);
    picker.sTitle = QStringLiteral("Pick one");
    const QString returned = picker.ShowBrowse();
    EXPECT_EQ(returned, ShownPath(GetParam().expected));
    EXPECT_EQ(picker.sFolder, ShownPath(GetParam().expected));
    EXPECT_EQ(picker.bCancelled, GetParam().expected.isEmpty());
    EXPECT_EQ(host.folderTitles, QStringList{QStringLiteral("Pick one")});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PickerAnswers,
    ::testing::Values(
        AnswerCase{"Cancel", QString(), QString()},
        AnswerCase{"Plain", QStringLiteral("/srv/data"), QStringLiteral("/srv/data")},
        AnswerCase{"TrailingSeparator", QStringLiteral("/srv/data/"), QStringLiteral("/srv/data")},
        AnswerCase{"Root", QStringLiteral("/"), QStringLiteral("/")},
        AnswerCase{"Blanks", QStringLiteral("  /srv/my data  "), QStringLiteral("/srv/my data")},
        AnswerCase{"OnlyBlanks", QStringLiteral("   "), QString()},
        AnswerCase{"Relative", QStringLiteral("sub"),
                   QDir::currentPath() + QStringLiteral("/sub")}),
    [](const auto& p) { return std::string(p.param.name); });

#ifdef Q_OS_WIN
// A drive's root stays whole: "C:" alone is the drive's current folder.
INSTANTIATE_TEST_SUITE_P(WindowsAnswers, PickerAnswers,
                         ::testing::Values(AnswerCase{"DriveRoot", QStringLiteral("C:/"),
                                                      QStringLiteral("C:/")},
                                           AnswerCase{"DriveRootBackslash", QStringLiteral("C:\\"),
                                                      QStringLiteral("C:/")},
                                           AnswerCase{"BelowADrive", QStringLiteral("Z:/data\\"),
                                                      QStringLiteral("Z:/data")}),
                         [](const auto& p) { return std::string(p.param.name); });
#endif

TEST(BrowseFolder, StartsInAnExistingFolder) {
    TempTree t;
    t.mkdir(QStringLiteral("start"));
    PickerHost host;
    cBrowseFolder picker(host);
    picker.sFolder = t.path(QStringLiteral("start"));
    picker.ShowBrowse();
    EXPECT_EQ(host.starts, QStringList{t.path(QStringLiteral("start"))});
    EXPECT_TRUE(picker.bCancelled);
    EXPECT_TRUE(picker.sFolder.isEmpty());
}

TEST(BrowseFolder, MissingStartFolderOpensWithoutPreselection) {
    TempTree t;
    t.write(QStringLiteral("file"), "x");
    PickerHost host;
    host.folderAnswers = {t.root(), t.root()};
    for (const QString& start :
         {t.path(QStringLiteral("missing")), t.path(QStringLiteral("file"))}) {
        cBrowseFolder picker(host);
        picker.sFolder = start;
        EXPECT_EQ(picker.ShowBrowse(), ShownPath(t.root()));
    }
    EXPECT_EQ(host.starts, QStringList({QString(), QString()}));
}

TEST(BrowseFolder, GivenArgumentsAreStoredFirst) {
    TempTree t;
    QWidget owner;
    PickerHost host;
    host.folderAnswers = {t.root() + u'/'};
    cBrowseFolder picker(host);
    picker.sTitle = QStringLiteral("old title");
    EXPECT_EQ(picker.ShowBrowse(&owner, QStringLiteral("Select Folder"), t.root()),
              ShownPath(t.root()));
    EXPECT_EQ(picker.lhWnd, &owner);
    EXPECT_EQ(picker.sTitle, QStringLiteral("Select Folder"));
    EXPECT_EQ(host.folderTitles, QStringList{QStringLiteral("Select Folder")});
    EXPECT_EQ(host.starts, QStringList{t.root()});
    EXPECT_FALSE(picker.bCancelled);
}

TEST(BrowseFolder, ArgumentsLeftOutKeepTheProperties) {
    PickerHost host;
    cBrowseFolder picker(host);
    picker.sTitle = QStringLiteral("Kept");
    picker.lFlags = 65;
    picker.ShowBrowse(std::nullopt, std::nullopt, QStringLiteral("/"));
    EXPECT_EQ(host.folderTitles, QStringList{QStringLiteral("Kept")});
    EXPECT_EQ(host.starts, QStringList{QStringLiteral("/")});
    EXPECT_EQ(picker.lFlags, 65);
}

}  // namespace
