#include "run/RunTexts.h"

#include <QLocale>

#include "common/Host.h"

namespace zandrel {

// Removes the unquoted "t" runs (time zone) of a time format and the blanks
// that separated them from the rest.
QString TimeFormatWithoutZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't') {
            while (out.endsWith(u' ')) out.chop(1);
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

QString LongTimeFormat() {
    static const QString format =
        TimeFormatWithoutZone(QLocale::system().timeFormat(QLocale::LongFormat));
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

QString VerifiedText(int verified) {
    return QString::number(verified) +
           (verified == 1
                ? QStringLiteral(" copy verified: read back from the disk, it matches its source.")
                : QStringLiteral(
                      " copies verified: read back from the disk, they match their sources."));
}

void AppendReportEntry(Host& host, const QString& text) {
    host.appendReport(TimeOfDayText(QTime::currentTime()) + text);
}

}  // namespace zandrel
