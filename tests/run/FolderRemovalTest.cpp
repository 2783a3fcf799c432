// Removal of the folders a Move emptied, and the length ordering it uses.

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "common/Paths.h"
#include "run/FolderRemoval.h"
#include "run/TestFiles.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

// The ordering done step by step as described: for each length from the
// shortest up, move every text of that length to the front.
QStringList ReferenceOrder(QStringList list) {
    if (list.isEmpty())
        return list;
    qsizetype longest = 0;
    qsizetype shortest = 1000;
    for (const QString& s : list) {
        longest = std::max(longest, s.size());
        shortest = std::min(shortest, s.size());
    }
    const auto step = [&](qsizetype length) {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list[i].size() != length)
                continue;
            list.insert(0, list[i]);
            list.removeAt(i + 1);
        }
    };
    for (qsizetype l = shortest; l <= longest; ++l) step(l);
    return list;
}

// The production order runs on bytes; texts go through it as UTF-8.
QStringList Ordered(const QStringList& texts) {
    QList<QByteArray> bytes;
    for (const QString& s : texts) bytes << s.toUtf8();
    OrderLongestFirst(bytes);
    QStringList out;
    for (const QByteArray& b : bytes) out << QString::fromUtf8(b);
    return out;
}

struct OrderCase {
    std::vector<const char*> in;
    std::vector<const char*> out;
};

QStringList Texts(const std::vector<const char*>& texts) {
    QStringList out;
    for (const char* t : texts) out << QString::fromUtf8(t);
    return out;
}

class OrderLongestFirstTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(OrderLongestFirstTest, PutsLongerFirstAndReversesEqualLengths) {
    EXPECT_EQ(Ordered(Texts(GetParam().in)), Texts(GetParam().out));
}

INSTANTIATE_TEST_SUITE_P(Examples, OrderLongestFirstTest,
                         ::testing::Values(OrderCase{{"/A", "/A/BB", "/A/B", "/A/B/C"},
                                                     {"/A/B/C", "/A/BB", "/A/B", "/A"}},
                                           OrderCase{{"/A/X", "/A/Y"}, {"/A/Y", "/A/X"}},
                                           OrderCase{{}, {}}, OrderCase{{"one"}, {"one"}},
                                           // Characters, not bytes: "é" is one.
                                           OrderCase{{"/d/\xc3\xa9\xc3\xa9", "/d/abc"},
                                                     {"/d/abc", "/d/\xc3\xa9\xc3\xa9"}},
                                           OrderCase{{"/d/B", "/d/B/C", "/d/E", "/d/B", "/d/E"},
                                                     {"/d/B/C", "/d/E", "/d/B", "/d/E", "/d/B"}}));

TEST(OrderLongestFirstReference, MatchesTheStepByStepMovesForAnyList) {
    QRandomGenerator random(42);
    for (int round = 0; round < 300; ++round) {
        QStringList list;
        const int n = static_cast<int>(random.bounded(12));
        for (int i = 0; i < n; ++i)
            list << QString(static_cast<qsizetype>(random.bounded(6)), QChar(u'a' + i));
        EXPECT_EQ(Ordered(list), ReferenceOrder(list)) << list.join(u',').toStdString();
    }
}

TEST(OrderLongestFirstReference, TextsOfOver1000CharactersAreOrderedToo) {
    const QStringList list =
        Ordered({QString(1200, u'a'), QString(1100, u'b'), QString(1300, u'c')});
    EXPECT_EQ(list,
              ReferenceOrder({QString(1200, u'a'), QString(1100, u'b'), QString(1300, u'c')}));
    EXPECT_EQ(list.first(), QString(1300, u'c'));
}

class RemoveMovedFoldersTest : public ::testing::Test {
  protected:
    QStringList remove(bool includeSubfolders) {
        QStringList out;
        for (const QByteArray& e :
             RemoveMovedFolders(t.path(QStringLiteral("data")), includeSubfolders, host))
            out << QString::fromUtf8(e);
        return out;
    }
    QString failed(const QString& relative) const {
        return QStringLiteral("Delete failed: ") + t.path(relative);
    }
    TempTree t;
    FakeHost host;
};

TEST_F(RemoveMovedFoldersTest, EmptiedFoldersGoDeepestFirstWithTheSource) {
    t.mkdir(QStringLiteral("data/B/C/D"));
    t.mkdir(QStringLiteral("data/.hidden/x"));
    t.mkdir(QStringLiteral("data/E"));
    EXPECT_TRUE(remove(true).isEmpty());
    EXPECT_FALSE(t.exists(QStringLiteral("data")));
}

TEST_F(RemoveMovedFoldersTest, WithoutSubfoldersASourceWithSubfoldersIsLeftAlone) {
    t.mkdir(QStringLiteral("data/B"));
    EXPECT_TRUE(remove(false).isEmpty());
    EXPECT_TRUE(t.exists(QStringLiteral("data/B")));
}

TEST_F(RemoveMovedFoldersTest, WithoutSubfoldersTheSourceGoesWhenEmpty) {
    t.mkdir(QStringLiteral("data"));
    EXPECT_TRUE(remove(false).isEmpty());
    EXPECT_FALSE(t.exists(QStringLiteral("data")));
}

TEST_F(RemoveMovedFoldersTest, WithoutSubfoldersASourceHoldingAFileIsReported) {
    t.write(QStringLiteral("data/left.txt"), "x");
    EXPECT_EQ(remove(false), QStringList{failed(QStringLiteral("data"))});
}

TEST_F(RemoveMovedFoldersTest, AFileLeftDeepReportsEachFolderAboveItAndTheImmediateOneTwice) {
    t.write(QStringLiteral("data/B/C/left.txt"), "x");
    t.mkdir(QStringLiteral("data/E"));
    EXPECT_EQ(remove(true),
              (QStringList{failed(QStringLiteral("data/B/C")), failed(QStringLiteral("data/B")),
                           failed(QStringLiteral("data/B")), failed(QStringLiteral("data"))}));
    EXPECT_FALSE(t.exists(QStringLiteral("data/E")));
}

TEST_F(RemoveMovedFoldersTest, AFoldersPermissionsAreNeverChanged) {
    t.write(QStringLiteral("data/R/left.txt"), "x");
    const QByteArray folder = EncodePath(t.path(QStringLiteral("data/R")));
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    remove(true);
    struct stat st {};
    ASSERT_EQ(::stat(folder.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0555u);
}

TEST_F(RemoveMovedFoldersTest, AMissingSourceIsNotReported) {
    EXPECT_TRUE(remove(true).isEmpty());
}

}  // namespace
