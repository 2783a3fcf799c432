#include <QApplication>

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "listing/CommandLine.h"
#include "run/HeadlessRun.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (zandrel::NoDisplayAvailable() || zandrel::IsPreviewRequest(arguments)) {
        // Nothing to show: run the list unattended on the offscreen platform.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCoreApplication app(argc, argv);
        return zandrel::RunHeadless(QCoreApplication::arguments().mid(1));
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zandrel"));
    QApplication::setOrganizationName(QStringLiteral("Zandrel"));
    zandrel::QtDialogs dialogs;
    zandrel::MainWindow window(dialogs);
    dialogs.setOwner(&window);
    if (!window.StartUp(zandrel::JoinArguments(QCoreApplication::arguments().mid(1))))
        return window.exitStatus();
    window.show();
    const int status = QApplication::exec();
    return window.exitStatus() != 0 ? window.exitStatus() : status;
}
