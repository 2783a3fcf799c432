#pragma once
// The windows' layouts are given in twips: the proportions of a design for an
// 8-point font at 96 dots per inch, 15 twips to a pixel and 13 pixels to a line
// of text. Pixels follow the font in use instead, so a larger font gets a
// larger window of the same proportions; and a control that needs more than
// its place gives (a long caption in a wide font) grows the whole layout, so
// that nothing is clipped.

#include <QRect>

class QWidget;

namespace zandrel {

class TwipScale {
  public:
    // From the widget's font and the screen's density, whichever is larger.
    explicit TwipScale(const QWidget* widget);

    int operator()(int twips) const;
    QRect rect(int left, int top, int width, int height) const;
    // Grows the scale, if need be, until a place of the given twips holds
    // `needed` pixels; a place of 0 twips in one direction sets nothing there.
    void fit(QSize needed, int widthTwips, int heightTwips);

  private:
    double pixelsPerTwip_;
};

}  // namespace zandrel
