#pragma once
// log.txt and errors.txt: what an unattended command-line run leaves for its
// user to read afterwards.

#include <QString>
#include <QStringList>

namespace zandrel {

class Host;
struct RunState;

inline const QString kLogFileName = QStringLiteral("log.txt");
inline const QString kErrorsFileName = QStringLiteral("errors.txt");

// Whether folder is where an installed program lives (a system folder such
// as /usr/bin, or the folder the build installs the program into): such a
// program never writes beside itself.
bool IsInstalledProgramFolder(const QString& folder);

// Where a command-line run may write its logs, in order: the program's
// folder when the program runs from a folder of its own that can be written,
// then the per-user data folder when the user has a home (or XDG_DATA_HOME
// names one).
QStringList LogFolderCandidates();
// The first of them; empty when there is none.
QString DefaultLogFolder();

struct LogWriteOutcome {
    bool written = false;
    QString folder;  // where both files went, when written
};

// Replaces the two files in the first of folders that takes them: log.txt
// holds the summary line, or one line per error entry; errors.txt the
// summary line, when there are errors or withErrorsFile. Each file is written
// whole into a new file and then renamed into place, never through a link;
// whatever fails leaves the previous files as they were.
LogWriteOutcome WriteLogFiles(const QStringList& folders, const RunState& state, Host& host,
                              bool withErrorsFile = false);

}  // namespace zandrel
