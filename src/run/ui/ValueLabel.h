#pragma once
// A label for values that change many times a second: its size does not
// depend on its text, so a new value repaints the label alone and never
// lays out the panel or the status bar again.

#include <QLabel>

namespace zandrel {

class ValueLabel : public QLabel {
  public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {0, fontMetrics().height()}; }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

}  // namespace zandrel
