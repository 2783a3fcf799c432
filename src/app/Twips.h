#pragma once
// The window layout is given in twips (15 to a pixel at 96 dots per inch);
// this scales it to the screen's density.

#include <QWidget>

namespace zandrel {

inline int Twips(const QWidget* w, int twips) {
    const double dpi = w ? w->logicalDpiX() : 96.0;
    return static_cast<int>(twips / 15.0 * (dpi > 0 ? dpi : 96.0) / 96.0 + 0.5);
}

}  // namespace zandrel
