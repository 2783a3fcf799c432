#pragma once
// A label for values that change many times a second: its size comes from a
// sample of the widest text it normally shows, never from the text itself, so
// a new value repaints the label alone and never lays out the panel or the
// status bar again. A longer text (a long file name) is shown shortened in the
// middle rather than cut off.

#include <QLabel>

namespace zandrel {

class ValueLabel : public QLabel {
  public:
    ValueLabel(const QString& text, const QString& sample, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString sample_;
};

}  // namespace zandrel
