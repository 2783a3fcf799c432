#pragma once
// The program's command line, its console and its desktop as the platform
// gives them.
// Linux gives both as bytes. Windows gives the command line as UTF-16 text
// (argv is its copy in the ANSI code page, which loses whatever that cannot
// hold) and a console takes wide text (bytes would be read in the console's
// own code page).

#include <QByteArrayView>
#include <QStringList>
#include <cstdio>

namespace zandrel {

// The arguments after the program's name; on Linux a name that is not valid
// UTF-8 keeps its bytes, as DecodePath keeps them.
QStringList ProgramArguments(int argc, const char* const* argv);

// Writes UTF-8 text to stdout or stderr and flushes it: a Windows console gets
// it as wide text, anything else (a file, a pipe, a terminal) the bytes.
void WriteText(std::FILE* stream, QByteArrayView text);

// Whether a window could be seen: Linux needs a display named in DISPLAY or
// WAYLAND_DISPLAY. Windows has none for a service or a task run while nobody
// is logged on (an invisible window station), nor Wine without a display of
// its own, where a window program would wait for a window nobody sees.
bool DesktopShowsWindows();

}  // namespace zandrel
