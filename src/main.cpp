#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
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

// Unless the platform was chosen by hand, a display that cannot be opened
// falls back to no display at all instead of ending the program.
bool AddNoDisplayFallback() {
    if (!qgetenv("QT_QPA_PLATFORM").isEmpty())
        return false;
    const QByteArray usual = qgetenv("WAYLAND_DISPLAY").isEmpty() ? "xcb" : "wayland;xcb";
    qputenv("QT_QPA_PLATFORM", usual + ";offscreen");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(zandrel::UsageText().constData(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zandrel %s\n", ZANDREL_VERSION);
        return 0;
    }
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
    const bool mayFallBack = AddNoDisplayFallback();
    QList<HeldMessage> held;
    gHeld = &held;
    const QtMessageHandler qtHandler = qInstallMessageHandler(HoldMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    const QString commandLine = zandrel::CommandLineText(argc, argv);
    if (mayFallBack && QGuiApplication::platformName() == QLatin1String("offscreen")) {
        const QString display =
            qEnvironmentVariable("DISPLAY", qEnvironmentVariable("WAYLAND_DISPLAY"));
        return zandrel::RunHeadless(commandLine, display);
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
