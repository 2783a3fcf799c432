#include <gtest/gtest.h>

#include <QSettings>

#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/ListCommands.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using zandrel::test::FakeHost;
using zandrel::test::RecordedMessage;
using zandrel::test::TempTree;

namespace {

const QString kLineA =
    QStringLiteral("Copy</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<A<:Specific|Types:*.*");
const QString kLineB =
    QStringLiteral("Move</c</d<Subfolders<CopyFoldersAndFiles<Overwrite<B<:Specific|Types:*.*");

class ListCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.root());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.root());
        t.write(QStringLiteral("good.bak"),
                (kLineA + QStringLiteral("\r\n") + kLineB + QStringLiteral("\r\n")).toUtf8());
        t.write(QStringLiteral("bad.txt"), "hello\r\n");
        host.reports = {QStringLiteral("old report")};
        host.statusText = QStringLiteral("0 tasks");
    }
    QString path(const char* name) { return t.path(QString::fromUtf8(name)); }
    void makeModified() {
        doc.appendLine(kLineA);
        doc.setListModified(true);
    }

    TempTree settingsDir;
    TempTree t;
    FakeHost host;
    SessionFlags flags;
    BackupList doc;
    ListCommands commands{doc, host, flags};
};

TEST_F(ListCommandsTest, LoadFillsRowsTitleStatusAndEmptiesReports) {
    EXPECT_EQ(commands.LoadBackupList(path("good.bak")), LoadResult::Loaded);
    EXPECT_EQ(doc.count(), 2);
    EXPECT_EQ(doc.lineAt(1), kLineB);
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - good.bak"));
    EXPECT_EQ(host.statusText, QStringLiteral("2 tasks"));
    EXPECT_TRUE(host.reports.isEmpty());
    EXPECT_FALSE(doc.listModified());
    EXPECT_TRUE(host.messages.isEmpty());
}

TEST_F(ListCommandsTest, MissingFileIsReportedAndChangesNothing) {
    makeModified();
    EXPECT_EQ(commands.LoadBackupList(path("missing.bak")), LoadResult::NotFound);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].icon, Icon::Exclamation);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Error notice"));
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("File was not found\r\n\r\n") + ShownPath(path("missing.bak")));
    EXPECT_EQ(doc.count(), 1);
    EXPECT_TRUE(doc.listModified());
}

TEST_F(ListCommandsTest, RefusedFileLeavesTheDocumentAsItWas) {
    makeModified();
    host.answers = {Answer::No};
    EXPECT_EQ(commands.LoadBackupList(path("bad.txt")), LoadResult::Refused);
    EXPECT_EQ(doc.count(), 1);
    EXPECT_EQ(host.reports, QStringList{QStringLiteral("old report")});
    EXPECT_EQ(host.statusText, QStringLiteral("0 tasks"));
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - Untitled.bak"));
}

TEST_F(ListCommandsTest, EmptyFileLoadsAsAnEmptyList) {
    t.write(QStringLiteral("empty.bak"), "");
    makeModified();
    host.answers = {Answer::No};
    EXPECT_EQ(commands.LoadBackupList(path("empty.bak")), LoadResult::Loaded);
    EXPECT_EQ(doc.count(), 0);
    EXPECT_EQ(host.statusText, QStringLiteral("0 tasks"));
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - empty.bak"));
}

struct PromptCase {
    const char* name;
    QList<Answer> answers;
    QStringList saveAsAnswers;
    LoadResult result;
    bool saved;
};

class PromptFlows : public ListCommandsTest, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(PromptFlows, BeforeALoad) {
    makeModified();
    host.answers = GetParam().answers;
    QStringList saveAs;
    for (const QString& a : GetParam().saveAsAnswers) saveAs.append(a.isEmpty() ? a : t.path(a));
    host.fileDialogAnswers = saveAs;
    EXPECT_EQ(commands.LoadBackupList(path("good.bak")), GetParam().result);
    const RecordedMessage& prompt = host.messages.at(0);
    EXPECT_EQ(prompt.title, QStringLiteral("Untitled.bak"));
    EXPECT_EQ(prompt.icon, Icon::Exclamation);
    EXPECT_EQ(prompt.buttons, Buttons::YesNoCancel);
    EXPECT_EQ(prompt.defaultButton, Answer::Yes);
    EXPECT_EQ(
        prompt.text,
        QStringLiteral("The listing has been modified.\r\n\r\nDo you want to save the changes?"));
    EXPECT_EQ(t.exists(QStringLiteral("saved.bak")), GetParam().saved);
    if (GetParam().result == LoadResult::Cancelled) {
        EXPECT_EQ(doc.count(), 1);
        EXPECT_TRUE(doc.listModified());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PromptFlows,
    ::testing::Values(
        PromptCase{"cancel", {Answer::Cancel}, {}, LoadResult::Cancelled, false},
        PromptCase{"no", {Answer::No}, {}, LoadResult::Loaded, false},
        PromptCase{
            "yes_then_cancel_save_as", {Answer::Yes}, {QString()}, LoadResult::Cancelled, false},
        PromptCase{"yes_then_save_as",
                   {Answer::Yes, Answer::Ok},
                   {QStringLiteral("saved.bak")},
                   LoadResult::Loaded,
                   true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ListCommandsTest, SaveOfAnEmptyListIsNothingToSave) {
    EXPECT_EQ(commands.save(), SaveOutcome::NothingToSave);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Note"));
    EXPECT_EQ(host.messages[0].icon, Icon::Information);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Nothing to save!\r\n\r\n"));
    EXPECT_TRUE(host.fileDialogs.isEmpty());  // the empty list is noted before any dialog
}

TEST_F(ListCommandsTest, SaveAsWritesRenamesAndRemembersTheFolder) {
    makeModified();
    doc.appendLine(kLineB);
    host.fileDialogAnswers = {path("new.bak")};
    EXPECT_EQ(commands.saveAs(), SaveOutcome::Saved);
    EXPECT_EQ(host.fileDialogs[0].kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(host.fileDialogs[0].filter, QStringLiteral("Backup list (*.bak)|*.bak"));
    EXPECT_EQ(t.read(QStringLiteral("new.bak")),
              (kLineA + QStringLiteral("\r\n") + kLineB + QStringLiteral("\r\n")).toUtf8());
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - new.bak"));
    EXPECT_FALSE(doc.listModified());
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("new.bak"));
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Saved successfully"));
    EXPECT_EQ(ReadRememberedFolder(kSaveAsLast), ShownPath(t.root() + u'/'));
    EXPECT_EQ(ReadRememberedFolder(kOpenLast), QString());
    // A later Save writes to the same file, without touching the remembered folders.
    WriteRememberedFolder(kSaveAsLast, QStringLiteral("/elsewhere/"));
    doc.removeLine(1);
    EXPECT_EQ(commands.save(), SaveOutcome::Saved);
    EXPECT_EQ(t.read(QStringLiteral("new.bak")), (kLineA + QStringLiteral("\r\n")).toUtf8());
    EXPECT_EQ(ReadRememberedFolder(kSaveAsLast), ShownPath(QStringLiteral("/elsewhere/")));
}

TEST_F(ListCommandsTest, ClosingDownSavesWithoutTheNote) {
    makeModified();
    flags.ClosingDown = true;
    host.fileDialogAnswers = {path("quiet.bak")};
    EXPECT_EQ(commands.saveAs(), SaveOutcome::Saved);
    EXPECT_TRUE(host.messages.isEmpty());
}

TEST_F(ListCommandsTest, UnwritableFolderIsNotSavedAndKeepsTheFlag) {
    makeModified();
    host.fileDialogAnswers = {path("missing-folder/x.bak")};
    EXPECT_EQ(commands.saveAs(), SaveOutcome::NotSaved);
    EXPECT_TRUE(doc.listModified());
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - Untitled.bak"));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Error"));
}

TEST_F(ListCommandsTest, OpenRemembersItsFolderAndReportsARefusedFile) {
    host.fileDialogAnswers = {path("bad.txt"), path("good.bak")};
    commands.open();
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].icon, Icon::Critical);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Error notice"));
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Invalid or corrupt list\r\n\r\nbad.txt"));
    EXPECT_EQ(ReadRememberedFolder(kOpenLast), QString());
    commands.open();
    EXPECT_EQ(doc.count(), 2);
    EXPECT_EQ(ReadRememberedFolder(kOpenLast), ShownPath(t.root() + u'/'));
    EXPECT_EQ(host.fileDialogs[1].startFolder, QString());
    host.fileDialogAnswers = {QString()};
    commands.open();
    EXPECT_EQ(host.fileDialogs[2].startFolder, ShownPath(t.root() + u'/'));
    EXPECT_EQ(doc.count(), 2);
}

}  // namespace
