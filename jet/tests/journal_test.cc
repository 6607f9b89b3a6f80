// The pager's write path and the rollback journal, on the fault-injecting
// in-memory Env: commits, rollbacks, savepoints, a crash at every step of
// the commit protocol (one file and two), recovery, and failing I/O.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "binary.h"
#include "header.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"
#include "journal.h"
#include "pager.h"
#include "rc4.h"
#include "test_util.h"
#include "testing/fault_env.h"

namespace jet {
namespace {

using testing::FaultEnv;
using testing::FaultOp;
using Bytes = std::vector<uint8_t>;

const std::string kFixture = "V2000_no-password.mdb";

using test::error_of;

std::unique_ptr<Database> open_rw(FaultEnv& env, const std::string& name,
                                  Durability durability = Durability::kDurable, std::size_t cache = 64) {
  OpenOptions o;
  o.read_write = true;
  o.env = &env;
  o.durability = durability;
  o.cache_pages = cache;
  return Database::open(name, o);
}

// A change of generation `gen` to a file of `base_pages` pages: three
// existing pages (not 0 or 2, which open reads) get a marker pattern, and
// two pages are appended. apply() does it through the pager; expected()
// computes the file it must give.
struct Change {
  uint32_t base_pages;
  int gen;
  std::vector<uint32_t> pages() const { return {1, 3, base_pages - 1}; }
  static void fill(uint8_t* p, int gen, uint32_t n) {
    for (std::size_t i = 0; i < kPageSize; ++i) p[i] = static_cast<uint8_t>(gen * 31 + n * 7 + i);
  }
  void apply(Pager& pager) const {
    for (uint32_t n : pages()) fill(pager.page_for_write(n), gen, n);
    for (int i = 0; i < 2; ++i) {
      uint32_t n = pager.append_page();
      fill(pager.page_for_write(n), gen, n);
    }
  }
  Bytes expected(const Bytes& before) const {
    Bytes out = before;
    out.resize(std::size_t(base_pages + 2) * kPageSize);
    for (uint32_t n : pages()) fill(out.data() + std::size_t(n) * kPageSize, gen, n);
    for (uint32_t n = base_pages; n < base_pages + 2; ++n) fill(out.data() + std::size_t(n) * kPageSize, gen, n);
    return out;
  }
};

class PagerWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.load_file(test::fixture(kFixture), "a.mdb");
    original = env.contents("a.mdb");
    base_pages = static_cast<uint32_t>(original.size() / kPageSize);
  }
  FaultEnv env;
  Bytes original;
  uint32_t base_pages = 0;
};

TEST_F(PagerWriteTest, CommitWritesChangedAndAppendedPagesAndRemovesTheJournalAtClose) {
  Change change{base_pages, 1};
  {
    auto db = open_rw(env, "a.mdb");
    Transaction tx(*db);
    change.apply(db->pager());
    EXPECT_EQ(db->pager().page_count(), base_pages + 2);
    EXPECT_EQ(env.contents("a.mdb"), original) << "nothing reaches the file before commit";
    tx.commit();
    EXPECT_EQ(env.contents("a.mdb"), change.expected(original));
    EXPECT_FALSE(journal::journal_is_hot(env, "a.mdb"));
    // The pages read back from the cache as committed.
    Bytes page3(kPageSize);
    Change::fill(page3.data(), 1, 3);
    EXPECT_EQ(0, std::memcmp(db->pager().page(3), page3.data(), kPageSize));
  }
  EXPECT_FALSE(env.file_exists("a.mdb-journal"));
  auto again = open_rw(env, "a.mdb");
  EXPECT_EQ(again->pager().page_count(), base_pages + 2);
}

TEST_F(PagerWriteTest, RollbackAndAbandonedTransactionsLeaveTheFileAsItWas) {
  auto db = open_rw(env, "a.mdb");
  {
    Transaction tx(*db);
    Change{base_pages, 1}.apply(db->pager());
    tx.rollback();
  }
  {
    Transaction tx(*db);
    Change{base_pages, 2}.apply(db->pager());
  }  // destroyed without commit
  EXPECT_EQ(db->pager().page_count(), base_pages);
  EXPECT_EQ(0, std::memcmp(db->pager().page(3), original.data() + 3 * kPageSize, kPageSize));
  EXPECT_EQ(env.contents("a.mdb"), original);
  // The database stays usable.
  Transaction tx(*db);
  Change{base_pages, 3}.apply(db->pager());
  tx.commit();
  EXPECT_EQ(env.contents("a.mdb"), Change({base_pages, 3}).expected(original));
}

TEST_F(PagerWriteTest, SavepointsUndoOnlyTheirStatement) {
  auto db = open_rw(env, "a.mdb");
  Pager& pager = db->pager();
  Transaction tx(*db);
  pager.page_for_write(3)[10] = 0xA1;
  Savepoint outer = pager.savepoint();
  pager.page_for_write(3)[10] = 0xB2;
  pager.page_for_write(4)[10] = 0xB2;
  uint32_t appended = pager.append_page();
  Savepoint inner = pager.savepoint();
  pager.page_for_write(appended)[0] = 0xC3;
  pager.page_for_write(3)[10] = 0xC3;
  pager.append_page();
  pager.rollback_to(inner);
  EXPECT_EQ(pager.page(3)[10], 0xB2);
  EXPECT_EQ(pager.page(appended)[0], 0);
  EXPECT_EQ(pager.page_count(), base_pages + 1);
  pager.page_for_write(5)[10] = 0xD4;  // under the still active inner savepoint
  pager.release(inner);
  pager.rollback_to(outer);
  EXPECT_EQ(pager.page(3)[10], 0xA1);
  EXPECT_EQ(pager.page(4)[10], original[4 * kPageSize + 10]);
  EXPECT_EQ(pager.page(5)[10], original[5 * kPageSize + 10]);
  EXPECT_EQ(pager.page_count(), base_pages);
  EXPECT_FALSE(pager.is_dirty(4));
  EXPECT_TRUE(pager.is_dirty(3));
  pager.release(outer);
  tx.commit();
  Bytes expected = original;
  expected[3 * kPageSize + 10] = 0xA1;
  EXPECT_EQ(env.contents("a.mdb"), expected);
}

TEST_F(PagerWriteTest, ReleasedSavepointsPassTheirImagesToTheEnclosingOneOncePerPage) {
  // A statement (outer) made of many row changes (inner), each writing the
  // same few pages: the outer savepoint keeps one image per page, and
  // rolling it back still restores the state before the statement.
  auto db = open_rw(env, "a.mdb");
  Pager& pager = db->pager();
  Transaction tx(*db);
  pager.page_for_write(3)[10] = 0xA1;
  Savepoint outer = pager.savepoint();
  Savepoint alias = pager.savepoint();  // nothing changed yet: the same state
  pager.page_for_write(6)[10] = 0x01;
  pager.release(alias);
  uint32_t appended = 0;
  for (int i = 0; i < 200; ++i) {
    Savepoint inner = pager.savepoint();
    pager.page_for_write(3)[10] = static_cast<uint8_t>(i);
    pager.page_for_write(4 + i % 2)[10] = static_cast<uint8_t>(i);
    if (i == 50) appended = pager.append_page();
    if (i > 50) pager.page_for_write(appended)[0] = static_cast<uint8_t>(i);
    pager.release(inner);
  }
  EXPECT_EQ(pager.undo_image_count(), 4u) << "pages 3, 4, 5 and 6 once each; none for the appended page";
  {
    // A failed row change inside the statement undoes itself only.
    Savepoint inner = pager.savepoint();
    pager.page_for_write(3)[10] = 0xEE;
    pager.page_for_write(7)[10] = 0xEE;
    pager.rollback_to(inner);
    pager.release(inner);
  }
  EXPECT_EQ(pager.page(3)[10], 199);
  EXPECT_EQ(pager.page(7)[10], original[7 * kPageSize + 10]);
  EXPECT_EQ(pager.page(appended)[0], 199);
  // An alias rolled back takes the statement back to its start and stays
  // usable; the outer savepoint is still there afterwards.
  Savepoint late = pager.savepoint();
  pager.page_for_write(8)[10] = 0x08;
  pager.rollback_to(outer);
  pager.release(late);
  EXPECT_EQ(pager.page(3)[10], 0xA1);
  for (uint32_t n : {4u, 5u, 6u, 8u}) EXPECT_EQ(pager.page(n)[10], original[n * kPageSize + 10]) << "page " << n;
  EXPECT_EQ(pager.page_count(), base_pages);
  pager.page_for_write(4)[10] = 0x44;
  pager.rollback_to(outer);
  EXPECT_EQ(pager.page(4)[10], original[4 * kPageSize + 10]);
  pager.release(outer);
  tx.commit();
  Bytes expected = original;
  expected[3 * kPageSize + 10] = 0xA1;
  EXPECT_EQ(env.contents("a.mdb"), expected);
}

TEST_F(PagerWriteTest, WriteScopeCommitsAloneOrUndoesItsStatementInsideATransaction) {
  auto db = open_rw(env, "a.mdb");
  Pager& pager = db->pager();
  {
    WriteScope scope(pager);
    pager.page_for_write(3)[0] = 0x11;
    scope.commit();
  }
  EXPECT_EQ(env.contents("a.mdb")[3 * kPageSize], 0x11) << "outside a transaction a scope commits on its own";
  try {
    WriteScope scope(pager);
    pager.page_for_write(3)[0] = 0x22;
    throw Error(ErrorCategory::kConstraint, "refused");
  } catch (const Error&) {
  }
  EXPECT_FALSE(pager.in_unit());
  EXPECT_EQ(pager.page(3)[0], 0x11);
  Transaction tx(*db);
  {
    WriteScope ok(pager);
    pager.page_for_write(4)[0] = 0x33;
    ok.commit();
  }
  {
    WriteScope failed(pager);
    pager.page_for_write(4)[0] = 0x44;
    pager.page_for_write(5)[0] = 0x44;
  }
  EXPECT_EQ(env.contents("a.mdb")[4 * kPageSize], original[4 * kPageSize]) << "inside a transaction nothing is written";
  tx.commit();
  Bytes file = env.contents("a.mdb");
  EXPECT_EQ(file[4 * kPageSize], 0x33);
  EXPECT_EQ(file[5 * kPageSize], original[5 * kPageSize]);
}

TEST_F(PagerWriteTest, DirtyPagesStayPinnedUnderASmallCacheAndCommitWithAFixedNumberOfSyncs) {
  auto db = open_rw(env, "a.mdb", Durability::kDurable, /*cache=*/16);
  Pager& pager = db->pager();
  Transaction tx(*db);
  std::vector<uint8_t*> pointers;
  for (int i = 0; i < 300; ++i) {
    uint32_t n = pager.append_page();
    uint8_t* p = pager.page_for_write(n);
    p[0] = static_cast<uint8_t>(i);
    pointers.push_back(p);
    // Reads in between cycle the clean part of the cache.
    pager.page(1 + i % (base_pages - 1));
  }
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(pointers[i][0], static_cast<uint8_t>(i));
    ASSERT_EQ(pager.page(base_pages + i), pointers[i]);
  }
  int syncs = env.op_count(FaultOp::kSync) + env.op_count(FaultOp::kSyncDir);
  tx.commit();
  syncs = env.op_count(FaultOp::kSync) + env.op_count(FaultOp::kSyncDir) - syncs;
  // Records, header, directory (journal created), database, commit point.
  EXPECT_EQ(syncs, 5);
  Bytes file = env.contents("a.mdb");
  ASSERT_EQ(file.size(), (base_pages + 300) * kPageSize);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(file[(base_pages + i) * kPageSize], static_cast<uint8_t>(i));
}

TEST_F(PagerWriteTest, EncodedFilesGetTheirPagesReencrypted) {
  // Make an "encoded" copy: a database key in the header, pages 1.. under
  // RC4 with key ^ page number, as the engine reads them.
  constexpr uint32_t kKey = 0x1234ABCD;
  Bytes enc = original;
  toggle_header_mask(enc.data());
  put_le32(enc.data() + kHeaderOffsetDbKey, kKey);
  toggle_header_mask(enc.data());
  for (uint32_t n = 1; n < base_pages; ++n) rc4_apply(kKey ^ n, enc.data() + std::size_t(n) * kPageSize, kPageSize);
  env.put_file("e.mdb", enc);
  Change change{base_pages, 5};
  {
    auto db = open_rw(env, "e.mdb");
    ASSERT_TRUE(db->info().encoded);
    Transaction tx(*db);
    change.apply(db->pager());
    tx.commit();
  }
  Bytes expected = change.expected(original);
  Bytes file = env.contents("e.mdb");
  ASSERT_EQ(file.size(), expected.size());
  for (uint32_t n = 1; n < base_pages + 2; ++n) rc4_apply(kKey ^ n, file.data() + std::size_t(n) * kPageSize, kPageSize);
  EXPECT_EQ(0, std::memcmp(file.data() + kPageSize, expected.data() + kPageSize, expected.size() - kPageSize));
  auto db = Database::open("e.mdb", OpenOptions{.password = "", .read_write = false, .env = &env});
  EXPECT_EQ(db->table("Table1").read_all().size(), 3u);
}

TEST_F(PagerWriteTest, ReadOnlyOpenersCannotWriteAndASecondWriterWaitsForTheFirstOnesTransaction) {
  auto reader = Database::open("a.mdb", OpenOptions{.password = "", .read_write = false, .env = &env});
  Error ro = error_of([&] { Transaction tx(*reader); });
  EXPECT_EQ(ro.category(), ErrorCategory::kInvalidArgument);
  EXPECT_NE(std::string(ro.what()).find("read-only"), std::string::npos) << ro.what();
  Error outside = error_of([&] { reader->pager().page_for_write(3); });
  EXPECT_EQ(outside.category(), ErrorCategory::kInvalidArgument);

  auto writer = open_rw(env, "a.mdb");
  {
    OpenOptions o;
    o.read_write = true;
    o.env = &env;
    o.lock_timeout_ms = 50;
    auto other = Database::open("a.mdb", o);
    Transaction held(*writer);
    Error second = error_of([&] { Transaction tx(*other); });
    EXPECT_EQ(second.category(), ErrorCategory::kLocked);
    EXPECT_NE(std::string(second.what()).find("a.mdb"), std::string::npos);
    held.rollback();
    Transaction tx(*other);  // free once the first one's transaction ended
  }
  Error twice = error_of([&] { Transaction tx({writer.get(), writer.get()}); });
  EXPECT_EQ(twice.category(), ErrorCategory::kInvalidArgument);
  EXPECT_FALSE(writer->pager().in_unit());
  writer.reset();
  EXPECT_NO_THROW(open_rw(env, "a.mdb"));
}

// ---- crashes at every step of the protocol ----

struct CrashOutcome {
  int old_state = 0;
  int new_state = 0;
};

// Runs `commit` with the process "killed" at its k-th changing operation,
// for every k until a run completes, then recovers (reopens) and checks
// every file is wholly before or wholly after. `power_cut`: unsynced writes
// and directory changes are lost too (durable mode must survive that);
// otherwise only the process dies (fast mode must survive that).
CrashOutcome crash_at_every_step(const std::vector<std::string>& names, Durability durability, bool power_cut) {
  CrashOutcome outcome;
  for (int k = 1;; ++k) {
    FaultEnv env;
    std::vector<Bytes> before, after;
    for (const auto& n : names) {
      env.load_file(test::fixture(kFixture), n);
      before.push_back(env.contents(n));
    }
    const uint32_t base = static_cast<uint32_t>(before[0].size() / kPageSize);
    bool completed = false;
    {
      std::vector<std::unique_ptr<Database>> dbs;
      std::vector<Database*> raw;
      for (const auto& n : names) {
        dbs.push_back(open_rw(env, n, durability));
        raw.push_back(dbs.back().get());
      }
      Transaction tx(raw);
      for (std::size_t i = 0; i < dbs.size(); ++i) {
        Change c{base, static_cast<int>(i + 1)};
        c.apply(dbs[i]->pager());
        after.push_back(c.expected(before[i]));
      }
      env.kill_after(k);
      try {
        tx.commit();
        completed = true;
      } catch (const Error& e) {
        EXPECT_EQ(e.category(), ErrorCategory::kIo) << e.what();
      }
      if (completed) env.restart();  // no kill happened: close normally
      // Otherwise the "dead" process's close cannot change anything.
    }
    if (power_cut) {
      env.crash();
    } else {
      env.restart();
    }
    // Recovery: open every file again (as a writer, then a reader reads).
    std::vector<bool> is_new;
    for (std::size_t i = 0; i < names.size(); ++i) {
      { auto db = open_rw(env, names[i]); }
      EXPECT_FALSE(env.file_exists(names[i] + "-journal")) << names[i] << " at kill " << k;
      Bytes now = env.contents(names[i]);
      bool was_old = now == before[i], was_new = now == after[i];
      EXPECT_TRUE(was_old || was_new) << names[i] << ": neither the old nor the new state after a kill at step " << k;
      is_new.push_back(was_new);
      auto reader = Database::open(names[i], OpenOptions{.password = "", .read_write = false, .env = &env});
      EXPECT_EQ(reader->table("Table1").read_all().size(), 3u);
    }
    for (std::size_t i = 1; i < is_new.size(); ++i) {
      EXPECT_EQ(is_new[i], is_new[0]) << "files disagree after a kill at step " << k;
    }
    if (completed) {
      EXPECT_TRUE(is_new[0]) << "a commit that returned must survive";
      ++outcome.new_state;
      break;
    }
    (is_new[0] ? outcome.new_state : outcome.old_state)++;
    if (k > 200) {
      ADD_FAILURE() << "commit never completed";
      break;
    }
  }
  return outcome;
}

TEST(JournalCrashTest, OneFileDurableSurvivesAPowerCutAtEveryStep) {
  CrashOutcome o = crash_at_every_step({"a.mdb"}, Durability::kDurable, /*power_cut=*/true);
  EXPECT_GT(o.old_state, 3);
  EXPECT_GE(o.new_state, 1);
}

TEST(JournalCrashTest, TwoFilesDurableSurviveAPowerCutAtEveryStep) {
  CrashOutcome o = crash_at_every_step({"a.mdb", "sub/b.mdb"}, Durability::kDurable, /*power_cut=*/true);
  EXPECT_GT(o.old_state, 6);
  EXPECT_GE(o.new_state, 1);
}

TEST(JournalCrashTest, FastModeSurvivesAKilledProcessAtEveryStep) {
  CrashOutcome one = crash_at_every_step({"a.mdb"}, Durability::kFast, /*power_cut=*/false);
  EXPECT_GT(one.old_state, 2);
  CrashOutcome two = crash_at_every_step({"a.mdb", "b.mdb"}, Durability::kFast, /*power_cut=*/false);
  EXPECT_GT(two.old_state, 4);
}

TEST(JournalCrashTest, DurableModeSurvivesAKilledProcessAtEveryStep) {
  CrashOutcome o = crash_at_every_step({"a.mdb", "b.mdb"}, Durability::kDurable, /*power_cut=*/false);
  // Kills really happened: before the commit point (old state) and after it
  // (new state without the commit returning), not only the final clean run.
  EXPECT_GT(o.old_state, 6);
  EXPECT_GE(o.new_state, 2);
}

// ---- recovery ----

class RecoveryTest : public PagerWriteTest {
 protected:
  // Commits a change with the process killed at the commit point, after
  // every database file was written and synced: hot journals.
  void leave_hot_journal(const std::vector<std::string>& names) {
    int kill_at = commit_point_op(names.size());
    std::vector<std::unique_ptr<Database>> dbs;
    std::vector<Database*> raw;
    for (const auto& n : names) {
      dbs.push_back(open_rw(env, n));
      raw.push_back(dbs.back().get());
    }
    Transaction tx(raw);
    for (auto* db : raw) Change{base_pages, 7}.apply(db->pager());
    env.kill_after(kill_at);
    EXPECT_THROW(tx.commit(), Error);
  }
  // Which changing operation of a first commit over `files` files is its
  // commit point, measured on a copy: the last two (zero the header, sync)
  // of a single-file commit; for several files the super-journal's removal,
  // followed by its directory sync and one header zeroing per file.
  static int commit_point_op(std::size_t files) {
    FaultEnv probe;
    std::vector<std::unique_ptr<Database>> dbs;
    std::vector<Database*> raw;
    for (std::size_t i = 0; i < files; ++i) {
      std::string n = "p" + std::to_string(i) + ".mdb";
      probe.load_file(test::fixture(kFixture), n);
      dbs.push_back(open_rw(probe, n));
      raw.push_back(dbs.back().get());
    }
    uint32_t base = dbs[0]->pager().page_count();
    Transaction tx(raw);
    for (auto* db : raw) Change{base, 7}.apply(db->pager());
    int start = probe.changing_ops();
    tx.commit();
    int total = probe.changing_ops() - start;
    return files == 1 ? total - 1 : total - 1 - static_cast<int>(files);
  }
};

TEST_F(RecoveryTest, AHotJournalIsPlayedBackByTheNextWriterOrReader) {
  env.put_file("b.mdb", original);
  leave_hot_journal({"a.mdb"});
  env.crash();
  ASSERT_TRUE(journal::journal_is_hot(env, "a.mdb"));
  ASSERT_NE(env.contents("a.mdb"), original) << "the kill should come after the file was written";
  {
    auto reader = Database::open("a.mdb", OpenOptions{.password = "", .read_write = false, .env = &env});
    EXPECT_EQ(reader->table("Table1").read_all().size(), 3u);
  }
  EXPECT_EQ(env.contents("a.mdb"), original);
  EXPECT_FALSE(env.file_exists("a.mdb-journal"));
}

TEST_F(RecoveryTest, TwoFileCommitRollsBackBothEvenWhenOpenedOneAtATime) {
  env.put_file("b.mdb", original);
  leave_hot_journal({"a.mdb", "b.mdb"});
  env.crash();
  ASSERT_TRUE(journal::journal_is_hot(env, "a.mdb"));
  ASSERT_TRUE(journal::journal_is_hot(env, "b.mdb"));
  { auto a = open_rw(env, "a.mdb"); }
  EXPECT_EQ(env.contents("a.mdb"), original);
  // b's journal still counts: the super-journal must outlive a's recovery.
  EXPECT_TRUE(journal::journal_is_hot(env, "b.mdb"));
  { auto b = open_rw(env, "b.mdb"); }
  EXPECT_EQ(env.contents("b.mdb"), original);
  EXPECT_FALSE(env.file_exists("a.mdb-journal"));
  EXPECT_FALSE(env.file_exists("b.mdb-journal"));
}

TEST_F(RecoveryTest, AReaderLeavesALiveWritersJournalAlone) {
  auto writer = open_rw(env, "a.mdb");
  { Transaction tx(*writer); Change{base_pages, 1}.apply(writer->pager()); tx.commit(); }
  // The journal stays on disk between commits; a live writer inside its
  // next transaction holds the writer's lock, so an opener does not judge
  // the journal.
  Bytes journal = env.contents("a.mdb-journal");
  ASSERT_GE(journal.size(), 4096u);
  Transaction held(*writer);
  auto reader = Database::open("a.mdb", OpenOptions{.password = "", .read_write = false, .env = &env});
  EXPECT_TRUE(env.file_exists("a.mdb-journal"));
  EXPECT_EQ(env.contents("a.mdb"), Change({base_pages, 1}).expected(original));
}

TEST_F(RecoveryTest, JournalsWithoutAValidHeaderOrWithAFinishedSuperJournalAreRemoved) {
  Bytes garbage(5000, 0x5A);
  env.put_file("a.mdb-journal", garbage);
  { auto db = open_rw(env, "a.mdb"); }
  EXPECT_FALSE(env.file_exists("a.mdb-journal"));
  EXPECT_EQ(env.contents("a.mdb"), original);

  // A hot journal naming a super-journal that is gone: the commit finished.
  env.put_file("b.mdb", original);
  leave_hot_journal({"a.mdb", "b.mdb"});
  env.crash();
  Bytes written = env.contents("a.mdb");
  ASSERT_NE(written, original);
  std::string super;
  {
    Bytes j = env.contents("a.mdb-journal");
    uint32_t len = le32(j.data() + 32);
    super.assign(reinterpret_cast<const char*>(j.data() + 36), len);
  }
  ASSERT_TRUE(env.file_exists(super));
  env.remove_file(super);
  env.sync_dir(super);
  { auto db = open_rw(env, "a.mdb"); }
  EXPECT_EQ(env.contents("a.mdb"), written);
  EXPECT_FALSE(env.file_exists("a.mdb-journal"));
}

TEST_F(RecoveryTest, ADamagedJournalRecordChangesNothingAndIsReported) {
  leave_hot_journal({"a.mdb"});
  env.crash();
  Bytes written = env.contents("a.mdb");
  Bytes j = env.contents("a.mdb-journal");
  j[4096 + 4 + 100] ^= 0xFF;  // inside the first record's page image
  env.put_file("a.mdb-journal", j);
  Error e = error_of([&] { open_rw(env, "a.mdb"); });
  EXPECT_EQ(e.category(), ErrorCategory::kCorruption);
  EXPECT_NE(std::string(e.what()).find("a.mdb-journal"), std::string::npos) << e.what();
  EXPECT_EQ(env.contents("a.mdb"), written);
  EXPECT_TRUE(env.file_exists("a.mdb-journal"));
}

// ---- failing I/O during a commit ----

TEST_F(PagerWriteTest, AFailedWriteOrSyncAtAnyPointLeavesTheFilesAsTheyWereAndTheDatabasesUsable) {
  for (std::size_t files : {1u, 2u}) {
    for (FaultOp op : {FaultOp::kWrite, FaultOp::kSync, FaultOp::kSyncDir, FaultOp::kRemove}) {
      for (int nth = 1;; ++nth) {
        FaultEnv e;
        std::vector<std::unique_ptr<Database>> dbs;
        std::vector<Database*> raw;
        for (std::size_t i = 0; i < files; ++i) {
          std::string name = i == 0 ? "a.mdb" : "b.mdb";
          e.put_file(name, original);
          dbs.push_back(open_rw(e, name));
          raw.push_back(dbs.back().get());
        }
        Transaction tx(raw);
        for (auto* db : raw) Change{base_pages, 1}.apply(db->pager());
        e.fail_after(op, nth);
        std::string where = std::to_string(files) + " file(s), fault " + std::to_string(int(op)) + " #" +
                            std::to_string(nth);
        try {
          tx.commit();
        } catch (const Error& err) {
          EXPECT_EQ(err.category(), ErrorCategory::kIo) << where;
          EXPECT_NE(std::string(err.what()).find("injected"), std::string::npos) << err.what();
          // Only the directory sync after a super-journal's removal fails
          // past the commit point; it says so, and the files are new.
          bool committed = std::string(err.what()).find("could not be made durable") != std::string::npos;
          for (std::size_t i = 0; i < files; ++i) {
            Bytes now = e.contents(raw[i]->path());
            EXPECT_EQ(now, committed ? Change({base_pages, 1}).expected(original) : original) << where;
            EXPECT_FALSE(raw[i]->pager().in_unit());
          }
          // The next commit works.
          const Bytes now = e.contents(raw[0]->path());
          const Change next{static_cast<uint32_t>(now.size() / kPageSize), 2};
          Transaction again(raw);
          for (auto* db : raw) next.apply(db->pager());
          again.commit();
          for (auto* db : raw) EXPECT_EQ(e.contents(db->path()), next.expected(now)) << where;
          continue;
        }
        e.fail_after(op, 0);
        break;  // no failure: past the last operation of that kind
      }
    }
  }
}

TEST_F(PagerWriteTest, AFullDiskFailsTheCommitWithAClearErrorAndChangesNothing) {
  for (uint64_t spare : {uint64_t(100), uint64_t(3 * kPageSize), uint64_t(8 * kPageSize), uint64_t(12 * kPageSize)}) {
    FaultEnv e;
    e.put_file("a.mdb", original);
    e.set_capacity(original.size() + spare);
    auto db = open_rw(e, "a.mdb");
    Transaction tx(*db);
    Change{base_pages, 1}.apply(db->pager());
    for (int i = 0; i < 6; ++i) db->pager().append_page();
    Error err = error_of([&] { tx.commit(); });
    EXPECT_EQ(err.category(), ErrorCategory::kIo);
    EXPECT_NE(std::string(err.what()).find("No space left"), std::string::npos) << err.what();
    EXPECT_EQ(e.contents("a.mdb"), original) << "spare " << spare;
  }
}

}  // namespace
}  // namespace jet
