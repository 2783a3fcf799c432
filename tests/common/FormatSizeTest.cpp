#include <gtest/gtest.h>

#include <QLocale>
#include <limits>

#include "common/FormatSize.h"

using zandrel::FormatSize;
using zandrel::FormatSizeNumber;

namespace {

class CLocale : public ::testing::Test {
  protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
};

struct SizeCase {
    double bytes;
    const char* text;
};

class FormatSizeCases : public CLocale, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FormatSizeCases, GivesTheStatedText) {
    EXPECT_EQ(FormatSize(GetParam().bytes).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FormatSizeCases,
    ::testing::Values(
        SizeCase{0, "0 bytes"}, SizeCase{1, "1 bytes"}, SizeCase{999, "999 bytes"},
        SizeCase{998.5, "999 bytes"}, SizeCase{-5, "-5 bytes"}, SizeCase{-2.5, "-3 bytes"},
        SizeCase{1000, "0.98 KB"}, SizeCase{1024, "1.00 KB"}, SizeCase{10240, "10.0 KB"},
        SizeCase{102400, "100 KB"}, SizeCase{102395, "100.0 KB"}, SizeCase{1022976, "999 KB"},
        SizeCase{1022977, "0.98 MB"}, SizeCase{1048576, "1.00 MB"}, SizeCase{5242880, "5.00 MB"},
        SizeCase{1047527424.0, "999 MB"}, SizeCase{1047527425.0, "0.98 GB"},
        SizeCase{1073741824.0, "1.00 GB"}, SizeCase{1099511627776.0, "1.00 TB"},
        SizeCase{1125899906842624.0, "1.00 PB"}, SizeCase{1152921504606846976.0, "1.00 EB"},
        SizeCase{1180591620717411303424.0, "1.00 ZB"},
        SizeCase{1208925819614629174706176.0, "1.00 YB"}));

struct NumberCase {
    double scaled;
    const char* text;
};

class FormatSizeNumberCases : public CLocale, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(FormatSizeNumberCases, RoundsExactHalvesAsStated) {
    EXPECT_EQ(FormatSizeNumber(GetParam().scaled).toStdString(), GetParam().text);
}

// Exact binary halves: to even at 100 and above, away from zero below.
INSTANTIATE_TEST_SUITE_P(Halves, FormatSizeNumberCases,
                         ::testing::Values(NumberCase{100.5, "100"}, NumberCase{101.5, "102"},
                                           NumberCase{102.5, "102"}, NumberCase{999.5, "1000"},
                                           NumberCase{10.25, "10.3"}, NumberCase{10.75, "10.8"},
                                           NumberCase{12.5, "12.5"}, NumberCase{1.125, "1.13"},
                                           NumberCase{1.375, "1.38"}, NumberCase{0.625, "0.63"},
                                           NumberCase{9.875, "9.88"}, NumberCase{9.999, "10.00"},
                                           NumberCase{99.96, "100.0"}, NumberCase{0, "0.00"}));

TEST(FormatSizeLocale, UsesTheLocalesDecimalPoint) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatSize(1024).toStdString(), "1,00 KB");
    EXPECT_EQ(FormatSize(10240).toStdString(), "10,0 KB");
    QLocale::setDefault(QLocale::c());
}

TEST(FormatSizeOdd, NonFiniteValuesDoNotCrash) {
    EXPECT_FALSE(FormatSize(std::numeric_limits<double>::infinity()).isEmpty());
    EXPECT_EQ(FormatSize(std::numeric_limits<double>::quiet_NaN()).toStdString(), "0 bytes");
}

// Found by fuzzing: a number far below zero was cast to an integer that
// cannot hold it (undefined behaviour, caught by UBSan).
struct ExtremeCase {
    double bytes;
    const char* text;
};

class FormatSizeExtremes : public CLocale, public ::testing::WithParamInterface<ExtremeCase> {};

TEST_P(FormatSizeExtremes, HaveADefinedText) {
    EXPECT_EQ(FormatSize(GetParam().bytes), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatSizeExtremes,
    ::testing::Values(ExtremeCase{-8.91495e+303, "-8.91495e+303 bytes"},
                      ExtremeCase{-std::numeric_limits<double>::infinity(), "-inf bytes"},
                      ExtremeCase{std::numeric_limits<double>::quiet_NaN(), "0 bytes"},
                      ExtremeCase{-9.5e18, "-9.5e+18 bytes"},
                      ExtremeCase{-4.0e18, "-4000000000000000000 bytes"},
                      ExtremeCase{-5, "-5 bytes"}, ExtremeCase{-0.4, "0 bytes"}));

// FormatSizeNumber wrote a negative value's fraction with its own sign.
using FormatSizeNumberSign = CLocale;

TEST_F(FormatSizeNumberSign, NegativeScaledNumbersKeepOneSignInFront) {
    EXPECT_EQ(FormatSizeNumber(-0.05), QStringLiteral("-0.05"));
    EXPECT_EQ(FormatSizeNumber(-12.5), QStringLiteral("-12.50"));
    EXPECT_EQ(FormatSizeNumber(-250), QStringLiteral("-250.00"));
    EXPECT_EQ(FormatSizeNumber(0.05), QStringLiteral("0.05"));
}

}  // namespace
