// FormatSize and FormatSizeNumber over every double, read back: the unit
// that the bounds choose, the number of decimals, and a value within half a
// unit of the last digit.

#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <cstring>

#include "FuzzSupport.h"
#include "common/FormatSize.h"

using namespace zandrel;
using namespace zandrel::fuzz;

namespace {

const char* const kUnits[] = {" bytes", " KB", " MB", " GB", " TB", " PB", " EB", " ZB", " YB"};

// The number part read back; checks the digits after the point.
void CheckNumber(const QString& number, double y, const QString& context) {
    const int decimals = y >= 100 ? 0 : (y >= 10 ? 1 : 2);
    const QString point = QLocale().decimalPoint();
    const QRegularExpression shape(
        QStringLiteral("^-?\\d+") +
        (decimals ? QRegularExpression::escape(point) + QStringLiteral("\\d{%1}$").arg(decimals)
                  : QString(u'$')));
    FUZZ_CHECK(shape.match(number).hasMatch(), context);
    QString plain = number;
    plain.replace(point, QStringLiteral("."));
    bool ok = false;
    const double v = plain.toDouble(&ok);
    FUZZ_CHECK(ok, context);
    const double tolerance = 0.5 * std::pow(10.0, -decimals);
    FUZZ_CHECK(std::fabs(v - y) <= tolerance * (1 + 1e-9) + std::fabs(y) * 1e-12, context);
    // Exact halves of the whole-number step go to the even neighbour.
    if (decimals == 0 && std::fabs(y) < 1e15 && y - std::floor(y) == 0.5)
        FUZZ_CHECK(std::fmod(v, 2.0) == 0.0, context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double))
        return 0;
    double x = 0;
    std::memcpy(&x, data, sizeof x);
    const QString text = FormatSize(x);
    const QString number = FormatSizeNumber(x);
    const QString context = QString::number(x, 'g', 17) + QStringLiteral(" -> ") + text +
                            QStringLiteral(" / ") + number;
    FUZZ_CHECK(!text.isEmpty() && !number.isEmpty(), context);
    if (!std::isfinite(x))
        return 0;

    // The scaled number on its own, wherever its text is defined.
    if (std::fabs(x) < 32768)
        CheckNumber(number, x, context);

    int k = 0;
    double divisor = 1;
    if (x > 999) {
        for (k = 1; k <= 8; ++k) {
            divisor *= 1024;
            if (k == 8 || x <= 999 * divisor)
                break;
        }
    }
    FUZZ_CHECK(text.endsWith(QLatin1String(kUnits[k])), context);
    const QString numberPart = text.chopped(static_cast<qsizetype>(std::strlen(kUnits[k])));
    if (k == 0) {
        FUZZ_CHECK(!numberPart.isEmpty(), context);
        if (std::fabs(x) < 1e15) {
            bool ok = false;
            FUZZ_CHECK(numberPart.toLongLong(&ok) == static_cast<long long>(std::round(x)) && ok,
                       context);
        }
        return 0;
    }
    const double y = x / divisor;
    if (y < 32768)
        CheckNumber(numberPart, y, context);
    return 0;
}
