#include "common/FormatSize.h"

#include <QLocale>
#include <array>
#include <cmath>

namespace zandrel {

namespace {

// Digits of a non-negative integer count of 1/10^decimals, written with the
// locale's decimal point; done on integers so exact halves round as stated
// rather than as the binary value printf would see.
QString WithDecimals(double rounded, int decimals) {
    const auto units = static_cast<long long>(rounded);
    // The sign goes in front once; the digits are those of the magnitude.
    const auto magnitude = static_cast<unsigned long long>(units < 0 ? -units : units);
    unsigned long long scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    const QString whole = QString::number(magnitude / scale);
    const QString fraction =
        QStringLiteral("%1").arg(magnitude % scale, decimals, 10, QLatin1Char('0'));
    return (units < 0 ? QStringLiteral("-") : QString()) + whole + QLocale().decimalPoint() +
           fraction;
}

double RoundHalfEven(double y) {
    const double floor = std::floor(y);
    const double diff = y - floor;
    if (diff > 0.5)
        return floor + 1;
    if (diff < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1;
}

}  // namespace

QString FormatSizeNumber(double y) {
    // Beyond what an integer holds there is no defined text; keep it readable.
    if (!std::isfinite(y) || std::fabs(y) > 1e15)
        return QString::number(y, 'g', 6);
    if (y >= 100)
        return QString::number(static_cast<long long>(RoundHalfEven(y)));
    if (y >= 10)
        return WithDecimals(std::round(y * 10), 1);
    return WithDecimals(std::round(y * 100), 2);
}

QString FormatSize(double x) {
    static const std::array<const char*, 9> kUnits = {" bytes", " KB", " MB", " GB", " TB",
                                                      " PB",    " EB", " ZB", " YB"};
    if (!(x > 999)) {
        if (std::isnan(x))
            x = 0;
        const double whole = std::round(x);
        // Below what an integer holds (down to minus infinity) keep it readable.
        if (whole < -9.0e18)
            return QString::number(whole, 'g', 6) + QLatin1String(kUnits[0]);
        return QString::number(static_cast<long long>(whole)) + QLatin1String(kUnits[0]);
    }
    double divisor = 1;
    for (int k = 1; k <= 7; ++k) {
        divisor *= 1024;
        if (x <= 999 * divisor)
            return FormatSizeNumber(x / divisor) + QLatin1String(kUnits[k]);
    }
    return FormatSizeNumber(x / (divisor * 1024)) + QLatin1String(kUnits[8]);
}

}  // namespace zandrel
