#include "widgets/TwipScale.h"

#include <QFontMetrics>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace zandrel {

namespace {

constexpr double kTwipsPerInch = 1440;
constexpr double kDesignLineTwips = 195;  // 13 pixels at 96 dots per inch

}  // namespace

TwipScale::TwipScale(const QWidget* widget) {
    const double density =
        widget->logicalDpiY() > 0 ? widget->logicalDpiY() / kTwipsPerInch : 96 / kTwipsPerInch;
    const double font = QFontMetrics(widget->font()).height() / kDesignLineTwips;
    pixelsPerTwip_ = std::max(density, font);
}

int TwipScale::operator()(int twips) const {
    return static_cast<int>(std::lround(twips * pixelsPerTwip_));
}

QRect TwipScale::rect(int left, int top, int width, int height) const {
    return {(*this)(left), (*this)(top), (*this)(width), (*this)(height)};
}

void TwipScale::fit(QSize needed, int widthTwips, int heightTwips) {
    // Half a pixel more, so that rounding never gives one pixel less.
    if (widthTwips > 0)
        pixelsPerTwip_ = std::max(pixelsPerTwip_, (needed.width() + 0.5) / widthTwips);
    if (heightTwips > 0)
        pixelsPerTwip_ = std::max(pixelsPerTwip_, (needed.height() + 0.5) / heightTwips);
}

}  // namespace zandrel
