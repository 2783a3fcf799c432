#pragma once
// The real message boxes and file dialogs.

#include <QPointer>
#include <QWidget>

#include "common/Host.h"

namespace zandrel {

class QtDialogs : public Dialogs {
  public:
    explicit QtDialogs(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    Answer message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Answer defaultButton) override;
    using Dialogs::message;
    QString fileDialog(const FileDialogRequest& request) override;
    QString chooseFolder(const QString& title, const QString& startFolder) override;

    // "Backup list (*.bak)|*.bak" to Qt's "Backup list (*.bak)".
    static QString toQtFilter(const QString& filter);

  private:
    QPointer<QWidget> owner_;
    QString lastFolder_;  // the one dialog's folder, shared by its uses
};

}  // namespace zandrel
