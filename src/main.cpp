#include <QApplication>

#include "run/HeadlessRun.h"

int main(int argc, char** argv) {
    if (zandrel::NoDisplayAvailable()) {
        // Nothing to show: run the list unattended on the offscreen platform.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCoreApplication app(argc, argv);
        return zandrel::RunHeadless(QCoreApplication::arguments().mid(1));
    }
    QApplication app(argc, argv);
    return 0;
}
