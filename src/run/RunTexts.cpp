#include "run/RunTexts.h"

#include <QLocale>

#include "common/Host.h"

namespace zandrel {

namespace {

// Removes the unquoted "t" runs (time zone) of a time format and the blanks
// that separated them from the rest.
QString WithoutTimeZone(const QString& format) {
    QString out;
    bool quoted = false;
    bool droppedZone = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't') {
            while (out.endsWith(u' ')) out.chop(1);
            droppedZone = true;
            continue;
        }
        if (droppedZone && c == u' ' && (out.isEmpty() || out.endsWith(u' ')))
            continue;
        droppedZone = droppedZone && c == u' ';
        out += c;
    }
    return out.trimmed();
}

}  // namespace

QString LongTimeFormat() {
    static const QString format =
        WithoutTimeZone(QLocale::system().timeFormat(QLocale::LongFormat));
    return format;
}

QString TimeOfDayText(const QTime& time) {
    return QLocale::system().toString(time, LongTimeFormat());
}

QString GeneralDateTimeText(const QDateTime& dateTime) {
    const QLocale locale = QLocale::system();
    return locale.toString(dateTime.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(dateTime.time(), LongTimeFormat());
}

void AppendReportEntry(Host& host, const QString& text) {
    host.appendReport(TimeOfDayText(QTime::currentTime()) + text);
}

}  // namespace zandrel
