#pragma once
// The command line as one text: a list path, optionally quoted, optionally
// followed by " -r" (run it), " -rp" (run it and pause before the end) or
// " -n" (show what a run would do, changing nothing), and by " --verify"
// (read each copy of the run back and compare it with its source), which
// may also come first.

#include <QString>
#include <functional>

namespace zandrel {

struct CommandLineRequest {
    enum class Kind { Empty, Load, Run, Preview };
    Kind kind = Kind::Empty;
    QString path;
    bool pauseBeforeExit = false;
    bool verify = false;
};

// pathExists answers for the path before it is completed with the program's
// folder (only a path with a switch is completed).
CommandLineRequest ParseCommandLine(QString text, const QString& programFolder,
                                    const std::function<bool(const QString&)>& pathExists);

// The arguments after the program's name as the platform split them, each
// decoded as a file name (any bytes come back unchanged when encoded again),
// joined with single blanks.
QString CommandLineText(int argc, const char* const* argv);

}  // namespace zandrel
