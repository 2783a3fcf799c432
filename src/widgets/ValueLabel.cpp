#include "widgets/ValueLabel.h"

#include <QPainter>
#include <QStyle>

namespace zandrel {

ValueLabel::ValueLabel(const QString& text, const QString& sample, QWidget* parent)
    : QLabel(text, parent), sample_(sample) {}

QSize ValueLabel::sizeHint() const {
    const QSize text(fontMetrics().horizontalAdvance(sample_), fontMetrics().height());
    return text.grownBy(contentsMargins()) + QSize(2 * margin(), 2 * margin());
}

void ValueLabel::paintEvent(QPaintEvent* event) {
    const QRect area = contentsRect().marginsRemoved({margin(), margin(), margin(), margin()});
    if (fontMetrics().horizontalAdvance(text()) <= area.width()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(),
                          fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()),
                          foregroundRole());
}

}  // namespace zandrel
