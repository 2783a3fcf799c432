#pragma once
// log.txt and errors.txt: what an unattended command-line run leaves for its
// user to read afterwards.

#include <QString>

namespace zandrel {

class Host;
struct RunState;

inline const QString kLogFileName = QStringLiteral("log.txt");
inline const QString kErrorsFileName = QStringLiteral("errors.txt");

// The program's folder when a file can be written there, otherwise the
// per-user data folder.
QString DefaultLogFolder();

// Replaces the two files in folder: log.txt holds the summary line, or one
// line per error entry; errors.txt, only with errors, the summary line.
// Returns false when a file could not be written whole; the caller decides
// whether anybody is there to be told.
bool WriteLogFiles(const QString& folder, const RunState& state, Host& host);

}  // namespace zandrel
