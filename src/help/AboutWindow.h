#pragma once
// The About window, laid out in twips like the main window.

#include <QDialog>

namespace zandrel {

// The About window: name, version and a contact line that selects itself.
class AboutWindow : public QDialog {
    Q_OBJECT
  public:
    explicit AboutWindow(QWidget* parent = nullptr);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace zandrel
