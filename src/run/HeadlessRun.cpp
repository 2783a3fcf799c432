#include "run/HeadlessRun.h"

#include <QTextStream>

namespace zandrel {

bool NoDisplayAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal")) return true;
    return qgetenv("DISPLAY").isEmpty() && qgetenv("WAYLAND_DISPLAY").isEmpty();
}

int RunHeadless(const QStringList& arguments) {
    Q_UNUSED(arguments);
    QTextStream(stderr) << "Zandrel needs a display.\n";
    return ExitListNotLoaded;
}

}  // namespace zandrel
