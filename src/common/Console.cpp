#include "common/Console.h"

#include "common/Paths.h"

// Windows has its own bodies (win/ConsoleWin.cpp).
#ifndef Q_OS_WIN
namespace zandrel {

QStringList ProgramArguments(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments.append(DecodePath(QByteArray(argv[i])));
    return arguments;
}

void WriteText(std::FILE* stream, QByteArrayView text) {
    std::fwrite(text.data(), 1, static_cast<size_t>(text.size()), stream);
    std::fflush(stream);
}

bool DesktopShowsWindows() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace zandrel
#endif
