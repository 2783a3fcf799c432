#include <QApplication>
#include <cstdio>

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "common/Console.h"
#include "common/Paths.h"
#include "common/UserHome.h"
#include "listing/CommandLine.h"
#include "run/HeadlessRun.h"
#include "zandrel/Version.h"

namespace {

// Qt's messages while it opens the display are held back: when no display
// can be opened the program says so in one line of its own instead.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QList<HeldMessage>* gHeld = nullptr;
void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    gHeld->append({type, context.category, text});
}

// A display platform that cannot start ends Qt's start-up with an abort.
// Offscreen is added as the last choice instead, so the program can say why
// and still run a list; byHand tells whether the user chose the platform.
void AddNoDisplayFallback(bool& byHand) {
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    byHand = !chosen.isEmpty();
    if (byHand) {
        qputenv("QT_QPA_PLATFORM", chosen + ";offscreen");
        return;
    }
#ifdef Q_OS_WIN
    const QByteArray usual = "windows";
#else
    const QByteArray usual = qgetenv("WAYLAND_DISPLAY").isEmpty() ? "xcb" : "wayland;xcb";
#endif
    qputenv("QT_QPA_PLATFORM", usual + ";offscreen");
}

// Qt's own words for the failure, e.g. "could not connect to display :99".
QByteArray PlatformFailure(const QList<HeldMessage>& held) {
    for (const HeldMessage& m : held) {
        if (m.category.startsWith("qt.qpa") && m.category != "qt.qpa.plugin")
            return m.text.toUtf8();
    }
    return held.isEmpty() ? QByteArray("it could not be started") : held.first().text.toUtf8();
}

}  // namespace

int main(int argc, char** argv) {
    const QStringList arguments = zandrel::ProgramArguments(argc, argv);
    if (arguments == QStringList{QStringLiteral("--help")} ||
        arguments == QStringList{QStringLiteral("-h")}) {
        zandrel::WriteText(stdout, zandrel::UsageText());
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("--version")}) {
        zandrel::WriteText(stdout, QByteArrayLiteral("zandrel " ZANDREL_VERSION "\n"));
        return 0;
    }
    // Before Qt places the per-user settings and data folders from HOME.
    zandrel::TakeHomeFromUserDatabase();
    // Before the paths part, so that both use one settings and data folder.
    QCoreApplication::setApplicationName(QStringLiteral("Zandrel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Zandrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZANDREL_VERSION));

    if (zandrel::NoDisplayAvailable() ||
        zandrel::IsPreviewRequest(zandrel::CommandLineText(argc, argv))) {
        // Nothing to show: run the list unattended on the offscreen platform.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCoreApplication app(argc, argv);
        return zandrel::RunHeadless(zandrel::CommandLineText(argc, argv));
    }
    const QByteArray chosenPlatform = qgetenv("QT_QPA_PLATFORM");
    bool byHand = false;
    AddNoDisplayFallback(byHand);
    QList<HeldMessage> held;
    gHeld = &held;
    const QtMessageHandler qtHandler = qInstallMessageHandler(HoldMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    const QString commandLine = zandrel::CommandLineText(argc, argv);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        zandrel::NoWindowReason noWindow;
        if (byHand) {
            noWindow.why = "Zandrel cannot start the display platform " + chosenPlatform + " (" +
                           zandrel::EscapedName(PlatformFailure(held)) + ")";
            noWindow.sayForRuns = true;
        } else {
#ifdef Q_OS_WIN
            // Windows names no display; Qt's own words say what failed.
            noWindow.why = "Zandrel cannot open the desktop to show its window (" +
                           zandrel::EscapedName(PlatformFailure(held)) + ")";
#else
            const QByteArray display =
                qEnvironmentVariable("DISPLAY", qEnvironmentVariable("WAYLAND_DISPLAY")).toUtf8();
            noWindow.why = "Zandrel cannot open the display " + zandrel::EscapedName(display) +
                           " to show its window";
#endif
        }
        return zandrel::RunHeadless(commandLine, noWindow);
    }
    for (const HeldMessage& m : held)
        qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.constData()),
                          m.text);

    zandrel::QtDialogs dialogs;
    zandrel::MainWindow window(dialogs);
    dialogs.setOwner(&window);
    if (!window.startUp(commandLine))
        return window.exitStatus();
    window.show();
    const int status = QApplication::exec();
    return window.exitStatus() != 0 ? window.exitStatus() : status;
}
