#pragma once
// Dialogs for benchmarks that drive the real window: every message box takes
// its default answer and every file dialog is cancelled, so nothing waits.

#include "common/Host.h"

namespace zandrel::bench {

class SilentDialogs : public Dialogs {
  public:
    Answer message(Icon, const QString&, const QString&, Buttons, Answer d) override { return d; }
    QString fileDialog(const FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
};

}  // namespace zandrel::bench
