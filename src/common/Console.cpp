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

// Standard output, a line per file in a preview, goes out in the stream's
// own buffer (a terminal still sees each line as it comes; the yields flush
// the rest); what goes to standard error is flushed at once, after what
// standard output holds, so both keep their order when they share a file.
void WriteText(std::FILE* stream, QByteArrayView text) {
    if (stream != stdout)
        std::fflush(stdout);
    std::fwrite(text.data(), 1, static_cast<size_t>(text.size()), stream);
    if (stream != stdout)
        std::fflush(stream);
}

bool DesktopShowsWindows() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace zandrel
#endif
