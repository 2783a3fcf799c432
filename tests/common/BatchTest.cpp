// The threaded batch on its own, with copies that only pretend: the order of
// its work (a flush before any name), what a read-back decides, and what an
// abort keeps or drops. Folders and flushes are real, in a temporary folder.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QStringList>
#include <QThread>

#include <memory>
#include <mutex>

#include "common/Batch.h"
#include "common/Paths.h"
#include "common/PendingCopy.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::fs;
using zandrel::test::TempTree;

namespace {

// What the copies were asked to do, in order, across the work's thread.
struct Log {
    std::mutex mutex;
    QStringList calls;
    void add(const QString& call) {
        const std::lock_guard lock(mutex);
        calls << call;
    }
    QStringList all() {
        const std::lock_guard lock(mutex);
        return calls;
    }
};

// A copy whose read-backs and name are scripted; a read-back that is told
// to hang waits for the batch to drop it.
class FakeCopy final : public PendingCopy {
  public:
    struct Script {
        CopyOutcome readBack = CopyResult::Copied;
        CopyOutcome again = {CopyResult::VerifyFailed, 0};
        bool hangInReadBack = false;
    };
    FakeCopy(QByteArray name, quint64 device, quint64 inode, Script script, Log& log,
             const Batch& batch)
        : name_(std::move(name)),
          identity_{device, inode},
          script_(script),
          log_(log),
          batch_(batch) {}

    const QByteArray& name() const override { return name_; }
    const FileIdentity& identity() const override { return identity_; }
    quint64 device() const override { return identity_.device; }
    void shareFolder(std::shared_ptr<const Handle>) override {}
    Handle duplicateFolder() const override { return {}; }
    Handle duplicate() const override { return {}; }
    int syncData() override { return 0; }
    void prepareReadBack(qint64, qint64) override {}
    CopyOutcome compareReadBack(qint64, const Checksum::Value&, const std::atomic<bool>& stop,
                                ReadBackSoFar) override {
        log_.add(QStringLiteral("read ") + QString::fromUtf8(name_));
        if (script_.hangInReadBack) {
            const QDeadlineTimer deadline(10000);
            while (!stop.load() && !deadline.hasExpired()) QThread::msleep(1);
            return stop.load() ? CopyOutcome(CopyResult::Discarded, 0) : script_.readBack;
        }
        return script_.readBack;
    }
    CopyOutcome copyAgain(const Handle&, qint64, const Checksum::Value&,
                          const std::atomic<bool>&) override {
        log_.add(QStringLiteral("again ") + QString::fromUtf8(name_));
        return script_.again;
    }
    CopyOutcome takeName(const FileInfo&, const FileIdentity*) override {
        log_.add(QStringLiteral("name %1 after %2 flushes")
                     .arg(QString::fromUtf8(name_))
                     .arg(batch_.flushesDone()));
        return CopyResult::Copied;
    }
    FileIdentity identityAtName() const override { return {}; }

  private:
    QByteArray name_;
    FileIdentity identity_;
    Script script_;
    Log& log_;
    const Batch& batch_;
};

class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = Folder::openAsNamed(EncodePath(t.root()));
        ASSERT_TRUE(folder.valid());
        t.write(QStringLiteral("source"), "0123456789");
        ASSERT_EQ(OpenSource(folder, "source", source), 0);  // copied again from here
    }
    // A copy of name, waiting in into (the fixture's batch unless given);
    // its ticket.
    int add(const char* name, FakeCopy::Script script = {}, bool verify = false,
            Batch* into = nullptr) {
        Batch& b = into ? *into : batch;
        CopyRequest request;
        request.destination = &folder;
        request.name = name;
        request.batch = &b;
        request.ticket = ++tickets;
        request.model = &source;
        EXPECT_EQ(b.reserve(folder), 0);
        WaitingCopy waiting;
        waiting.file = std::make_unique<FakeCopy>(QByteArray(name), folder.identity().device,
                                                  1000 + tickets, script, log, b);
        waiting.size = 10;
        waiting.verify = verify;
        EXPECT_TRUE(b.add(request, std::move(waiting)).ok());
        return tickets;
    }

    TempTree t;
    Folder folder;
    SourceFile source;
    Batch batch;
    Log log;
    int tickets = 0;
};

TEST_F(BatchTest, EachCopyIsNamedAfterTheFlushAndTheNamesAreFlushedAfter) {
    for (const char* name : {"a", "b", "c"}) add(name);
    EXPECT_NE(batch.pending(folder.identity(), "b"), nullptr);
    const int before = batch.flushesDone();
    batch.commit(Batch::Names::Durable);
    const QHash<int, Batch::Outcome> outcomes = batch.finish();
    ASSERT_EQ(outcomes.size(), 3);
    for (int ticket = 1; ticket <= 3; ++ticket) EXPECT_TRUE(outcomes.value(ticket).copy.ok());
    const QString after = QStringLiteral(" after %1 flushes").arg(before + 1);
    EXPECT_EQ(log.all(),
              (QStringList{QStringLiteral("name a") + after, QStringLiteral("name b") + after,
                           QStringLiteral("name c") + after}));
    EXPECT_EQ(batch.flushesDone(), before + 2);  // the names' own flush
    EXPECT_TRUE(batch.empty());
}

// One that reads back wrong is copied once more; named only when that
// copy reads back right.
TEST_F(BatchTest, AReadBackThatDiffersIsCopiedOnceMore) {
    struct Case {
        const char* name;
        CopyOutcome readBack;
        CopyOutcome again;
        bool named;
        bool copiedAgain;
    };
    const CopyOutcome differs(CopyResult::VerifyFailed, 0);
    const Case cases[] = {{"right", CopyResult::Copied, differs, true, false},
                          {"once", differs, CopyResult::Copied, true, true},
                          {"twice", differs, differs, false, true}};
    for (const Case& k : cases) add(k.name, {k.readBack, k.again, false}, true);
    batch.commit(Batch::Names::Durable);
    const QHash<int, Batch::Outcome> outcomes = batch.finish();
    const QStringList calls = log.all();
    for (int i = 0; i < 3; ++i) {
        const Case& k = cases[i];
        SCOPED_TRACE(k.name);
        const Batch::Outcome o = outcomes.value(i + 1);
        EXPECT_EQ(o.copy.ok(), k.named);
        EXPECT_EQ(o.verified, k.named);
        EXPECT_EQ(o.copiedAgain, k.copiedAgain);
        EXPECT_EQ(calls.filter(QStringLiteral("name ") + QLatin1String(k.name)).size(),
                  k.named ? 1 : 0);
    }
    EXPECT_EQ(outcomes.value(3).copy, CopyResult::VerifyFailed);
}

// Held at the first name, an abort either lets the work go on (the copies
// are kept) or drops what is not named yet; a drop also ends a read-back
// under way at once.
TEST_F(BatchTest, AnAbortKeepsOrDropsWhatWaits) {
    for (const bool drop : {false, true}) {
        SCOPED_TRACE(drop ? "drop" : "keep");
        add("x");
        add("y");
        batch.hold();
        batch.commit(Batch::Names::Durable);
        if (drop)
            batch.discard();
        else
            batch.resume();
        const QHash<int, Batch::Outcome> outcomes = batch.finish();
        for (const Batch::Outcome& o : outcomes) EXPECT_EQ(o.copy == CopyResult::Discarded, drop);
        EXPECT_EQ(log.all().size(), drop ? 0 : 2);
        log.calls.clear();
    }
    Batch reading;
    const int slow = add("slow", {{}, {}, true}, true, &reading);
    reading.commit(Batch::Names::Durable);
    const QDeadlineTimer deadline(10000);
    while (log.all().isEmpty() && !deadline.hasExpired()) QThread::msleep(1);
    reading.discard();
    EXPECT_TRUE(reading.waitFor(5000));
    EXPECT_EQ(reading.finish().value(slow).copy, CopyResult::Discarded);
}

}  // namespace
