#pragma once
// Times and dates as the run writes them: report entries carry the time of
// day, log lines the date and time, both in the system locale's formats.

#include <QDateTime>
#include <QString>

namespace zandrel {

class Host;

// A time format without its time-zone part: "HH:mm:ss t" becomes "HH:mm:ss".
QString TimeFormatWithoutZone(const QString& format);
// The locale's long time format without its time-zone part.
QString LongTimeFormat();
QString TimeOfDayText(const QTime& time);
// The locale's short date, a blank and the long time as above.
QString GeneralDateTimeText(const QDateTime& dateTime);

// What a run that verified says of it: the report's entry, the Summary's
// line.
QString VerifiedText(int verified);

// Appends the current time of day followed by text (" : ...") to the report
// list.
void AppendReportEntry(Host& host, const QString& text);

}  // namespace zandrel
