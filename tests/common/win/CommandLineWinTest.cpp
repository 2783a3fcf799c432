// Windows only: the real programs started as a user would from cmd, with a
// list whose own name and paths go beyond the ANSI code page, and no desktop
// to show a window on (Wine without a display): zandrel.exe and zandrel.com
// both run headless and end, read their arguments as UTF-16, write UTF-8 when
// redirected, and show every path with "\".
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include "support/TempTree.h"

using zandrel::test::TempTree;

namespace {

struct CliCase {
    const char* name;
    const char* listName;  // UTF-8
    const char* program;
    const char* option;
};

class WindowsCommandLine : public ::testing::TestWithParam<CliCase> {};

TEST_P(WindowsCommandLine, RunsAListNamedBeyondAnsiAndShowsWindowsPaths) {
    const CliCase c = GetParam();
    TempTree t;
    t.write(QStringLiteral("src/caf\u00e9 \u65e5\u672c.txt"), "content");
    t.mkdir(QStringLiteral("dst"));
    const QString src = QDir::toNativeSeparators(t.path(QStringLiteral("src")));
    const QString dst = QDir::toNativeSeparators(t.path(QStringLiteral("dst")));
    const QString list = QDir::toNativeSeparators(t.path(QString::fromUtf8(c.listName)));
    t.write(QString::fromUtf8(c.listName),
            (QStringLiteral("Copy<") + src + u'<' + dst +
             QStringLiteral("<Subfolders<CopyJustFiles<Overwrite<t<:Specific|Types:*.*\r\n"))
                .toUtf8());
    // A copy of its own, so that its logs land beside it; Qt's DLLs by PATH.
    t.mkdir(QStringLiteral("bin"));
    const QString build = QCoreApplication::applicationDirPath();
    const QString program = t.path(QStringLiteral("bin/") + QLatin1String(c.program));
    ASSERT_TRUE(QFile::copy(build + u'/' + QLatin1String(c.program), program));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("PATH"),
               QDir::toNativeSeparators(build) + u';' + env.value(QStringLiteral("PATH")));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, {list, QLatin1String(c.option)});
    // A bound, not a measure: a run that waits for a window never ends.
    ASSERT_TRUE(p.waitForFinished(120000)) << "the program did not end";
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString() << err.toStdString();

    const QString name = QStringLiteral("\\caf\u00e9 \u65e5\u672c.txt");
    if (QLatin1String(c.option) == QLatin1String("-n")) {
        EXPECT_TRUE(out.contains(QStringLiteral("copy\t") + src + name + u'\t' + dst + name))
            << out.toStdString();
        EXPECT_FALSE(t.exists(QStringLiteral("dst/caf\u00e9 \u65e5\u672c.txt")));
    } else {
        EXPECT_EQ(t.read(QStringLiteral("dst/caf\u00e9 \u65e5\u672c.txt")), "content");
        const QString log = QString::fromUtf8(t.read(QStringLiteral("bin/log.txt")));
        EXPECT_TRUE(log.contains(QStringLiteral("  :  ") + src + QStringLiteral("---->Copy---->") +
                                 dst + QStringLiteral("\r\n")))
            << log.toStdString();
        EXPECT_FALSE(log.contains(QStringLiteral(":/"))) << log.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, WindowsCommandLine,
    ::testing::Values(
        CliCase{"AccentPreviewConsole", "liste \xC3\xA9.bak", "zandrel.com", "-n"},
        CliCase{"AccentRunWindowed", "liste \xC3\xA9.bak", "zandrel.exe", "-r"},
        CliCase{"JapaneseRunConsole", "\xE6\x97\xA5\xE6\x9C\xAC.bak", "zandrel.com", "-r"},
        CliCase{"JapanesePreviewWindowed", "\xE6\x97\xA5\xE6\x9C\xAC.bak", "zandrel.exe", "-n"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
