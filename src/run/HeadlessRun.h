#pragma once
// A command-line run without a display: no window, report entries to standard
// output, message boxes to standard error with their default answers.

#include <QByteArray>
#include <QString>

#include "run/ExitStatus.h"

namespace zandrel {

// True when no display is there to show a window.
bool NoDisplayAvailable();

// Whether the command line asks for a preview, which never opens a window.
bool IsPreviewRequest(const QString& commandLine);

// What "zandrel --help" prints: the command-line forms and exit statuses.
QByteArray UsageText();

// Why a window cannot be shown where one could be: a display that is set but
// cannot be opened, or a display platform that cannot start.
struct NoWindowReason {
    QByteArray why;  // one sentence, without its end; empty when no display is set
    // Said even when a run goes on without the window (the platform was
    // chosen by hand); otherwise only when nothing can be done without one.
    bool sayForRuns = false;
};

// Handles the whole command line headless and returns the exit status. Needs
// a QCoreApplication.
int RunHeadless(const QString& commandLine, const NoWindowReason& noWindow = {});

}  // namespace zandrel
