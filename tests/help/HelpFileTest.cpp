#include <gtest/gtest.h>

#include "help/HelpModule.h"
#include "support/TempTree.h"

using zandrel::HelpModule;
using zandrel::test::TempTree;

namespace {

// Where the help is found, for the places it may lie: beside the program
// (a build or a portable copy), ../share/zandrel (an installed prefix), or
// the data folder the build was configured with.
struct Lookup {
    const char* name;
    std::vector<const char*> present;
    const char* found;
};

class HelpFileLookup : public ::testing::TestWithParam<Lookup> {};

TEST_P(HelpFileLookup, TakesTheFirstPlaceThatHoldsIt) {
    TempTree t;
    t.mkdir(QStringLiteral("prefix/bin"));
    for (const char* file : GetParam().present) t.write(QString::fromUtf8(file), "<html/>");
    const QString found = HelpModule::locateHelpFile(t.path(QStringLiteral("prefix/bin")),
                                                     t.path(QStringLiteral("data/zandrel")));
    EXPECT_EQ(found, t.path(QString::fromUtf8(GetParam().found)));
}

INSTANTIATE_TEST_SUITE_P(
    Places, HelpFileLookup,
    ::testing::Values(
        Lookup{"BesideWins",
               {"prefix/bin/Zandrel.html", "prefix/share/zandrel/Zandrel.html"},
               "prefix/bin/Zandrel.html"},
        Lookup{"InstalledPrefix",
               {"prefix/share/zandrel/Zandrel.html", "data/zandrel/Zandrel.html"},
               "prefix/share/zandrel/Zandrel.html"},
        Lookup{"ConfiguredDataFolder", {"data/zandrel/Zandrel.html"}, "data/zandrel/Zandrel.html"},
        Lookup{"NowhereNamesTheOneBeside", {}, "prefix/bin/Zandrel.html"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
