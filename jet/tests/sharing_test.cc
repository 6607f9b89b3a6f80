// Several handles on one file: in one process (a handle notices another
// handle's commits: new rows, new counts, new tables), a writer process
// killed mid-commit while others keep the file open, and three processes
// at once (a poster committing groups, an updater committing single
// updates, a reader checking in a loop that it never sees half a group),
// ending with every change of both writers present and every index sound.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "check.h"
#include "jet/database.h"
#include "jet/env.h"
#include "jet/transaction.h"
#include "journal.h"
#include "test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

class SharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::fresh_test_folder("jet_sharing_");
    file_ = (dir_ / "products.mdb").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static OpenOptions rw(const std::string& user = "Admin") {
    OpenOptions o;
    o.read_write = true;
    o.durability = Durability::kFast;
    o.user_name = user;
    o.lock_timeout_ms = 20000;
    return o;
  }

  // Items (Code primary key, Qty) with `n` products, and an empty Posted
  // (counter, Code, Qty).
  void make_shop(int n) {
    CreateOptions co;
    co.durability = Durability::kFast;
    auto db = Database::create(file_, co);
    TableSpec items;
    items.name = "Items";
    items.columns.push_back(ColumnSpec{.name = "Code", .type = ColumnType::kText, .length = 20});
    items.columns.push_back(ColumnSpec{.name = "Qty", .type = ColumnType::kLong});
    items.columns.push_back(ColumnSpec{.name = "Name", .type = ColumnType::kText, .length = 60});
    items.indexes.push_back(IndexSpec{.name = "PrimaryKey", .columns = {{"Code"}}, .primary_key = true});
    items.indexes.push_back(IndexSpec{.name = "Qty", .columns = {{"Qty"}}});
    TableSpec posted;
    posted.name = "Posted";
    posted.columns.push_back(ColumnSpec{.name = "Id", .type = ColumnType::kLong, .auto_number = true});
    posted.columns.push_back(ColumnSpec{.name = "Code", .type = ColumnType::kText, .length = 20});
    posted.columns.push_back(ColumnSpec{.name = "Qty", .type = ColumnType::kLong});
    posted.indexes.push_back(IndexSpec{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    posted.indexes.push_back(IndexSpec{.name = "Code", .columns = {{"Code"}}});
    Table& t = db->create_table(items);
    db->create_table(posted);
    Transaction tx(*db);
    for (int i = 0; i < n; ++i) t.insert(Row{code(i), int32_t(0), "Product " + std::to_string(i)});
    tx.commit();
  }
  static std::string code(int i) { return "P" + std::to_string(100000 + i); }

  // Adds `delta` to the Qty of product `i`.
  static void add_qty(Table& t, int i, int delta) {
    std::vector<Value> key{code(i)};
    auto ids = t.seek("PrimaryKey", key);
    ASSERT_EQ(ids.size(), 1u) << code(i);
    Row r;
    t.read_row(ids[0], r);
    r[1] = std::get<int32_t>(r[1]) + delta;
    t.update(ids[0], r);
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(SharingTest, AHandleSeesAnotherHandlesCommits) {
  make_shop(50);
  auto a = Database::open(file_, rw("A"));
  auto b = Database::open(file_, rw("B"));
  auto reader = Database::open(file_);
  Table& ta = a->table("Items");
  EXPECT_EQ(ta.read_all().size(), 50u);  // pages cached
  EXPECT_EQ(reader->table("Items").row_count(), 50u);
  {
    Table& tb = b->table("Items");
    Transaction tx(*b);
    for (int i = 50; i < 400; ++i) tb.insert(Row{code(i), int32_t(i), std::string(50, 'x')});  // new pages, a deeper index
    add_qty(tb, 3, 7);
    tx.commit();
  }
  EXPECT_EQ(ta.read_all().size(), 400u);
  EXPECT_EQ(ta.row_count(), 400u);
  EXPECT_EQ(reader->table("Items").read_all().size(), 400u);
  std::vector<Value> key{code(399)};
  EXPECT_EQ(ta.seek("PrimaryKey", key).size(), 1u);
  // A writes on top of B's commit without losing it.
  add_qty(ta, 3, 1);
  Row r;
  b->table("Items").read_row(b->table("Items").seek("PrimaryKey", std::vector<Value>{code(3)})[0], r);
  EXPECT_EQ(std::get<int32_t>(r[1]), 8);
  // A table another handle created.
  TableSpec extra;
  extra.name = "Extra";
  extra.columns.push_back(ColumnSpec{.name = "X", .type = ColumnType::kLong});
  b->create_table(extra).insert(Row{int32_t(1)});
  EXPECT_TRUE(reader->table("Items").row_count() == 400u);
  EXPECT_EQ(reader->table("Extra").read_all().size(), 1u);
  CheckReport c = check_database(*reader);
  EXPECT_TRUE(c.ok()) << test::joined_problems(c);
}

TEST_F(SharingTest, ASnapshotHoldsOtherCommitsBackUntilItEnds) {
  make_shop(10);
  auto reader = Database::open(file_);
  OpenOptions o = rw("W");
  o.lock_timeout_ms = 100;
  auto writer = Database::open(file_, o);
  {
    ReadSnapshot snap(*reader);
    EXPECT_EQ(reader->table("Items").read_all().size(), 10u);
    Error e = test::error_of([&] { writer->table("Items").insert(Row{code(10), int32_t(0), Value{}}); });
    EXPECT_EQ(e.category(), ErrorCategory::kLocked);
    EXPECT_NE(std::string(e.what()).find("reading"), std::string::npos) << e.what();
    EXPECT_EQ(reader->table("Items").read_all().size(), 10u);
  }
  writer->table("Items").insert(Row{code(10), int32_t(0), Value{}});
  EXPECT_EQ(reader->table("Items").read_all().size(), 11u);
}

// Runs `body` in a child process; returns its exit status (0: all well).
template <typename F>
pid_t spawn(F&& body);
int wait_for(pid_t pid);

TEST_F(SharingTest, AWriterKilledMidCommitIsRolledBackByTheHandlesStillOpen) {
  make_shop(300);
  auto reader = Database::open(file_);
  auto writer = Database::open(file_, rw("Survivor"));
  std::mt19937 rng(4242);
  uint32_t committed = 0;
  int interrupted = 0, hot = 0;
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(reader->table("Posted").read_all().size(), committed);  // pages cached before the kill
    pid_t pid = spawn([&] {
      OpenOptions o = rw("Doomed");
      o.durability = Durability::kDurable;  // a slower commit: more moments to die in
      auto db = Database::open(file_, o);
      Table& posted = db->table("Posted");
      Transaction tx(*db);
      for (int i = 0; i < 3000; ++i) posted.insert(Row{Value{}, code(i % 300), int32_t(i)});
      tx.commit();
      return 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + rng() % 700));
    ::kill(pid, SIGKILL);
    const bool finished = wait_for(pid) == 0;
    if (finished) committed += 3000;
    else ++interrupted;
    if (journal::journal_is_hot(*Env::posix(), file_)) ++hot;
    // Whatever the moment, both handles see the old rows or all the new ones,
    // and the survivor writes on.
    const auto seen = reader->table("Posted").read_all().size();
    EXPECT_TRUE(seen == committed || seen == committed + 3000) << seen;
    committed = uint32_t(seen);
    writer->table("Items").insert(Row{code(1000 + round), int32_t(0), Value{}});
    EXPECT_EQ(writer->table("Posted").read_all().size(), committed);
  }
  CheckReport r = check_database(*reader);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  std::printf("writers killed mid-way: %d of 16, %d of them mid-commit (hot journal)\n", interrupted, hot);
}

// Runs `body` in a child process; returns its exit status (0: all well).
template <typename F>
pid_t spawn(F&& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 0;
    try {
      code = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child %d: %s\n", int(::getpid()), e.what());
      code = 100;
    }
    ::_exit(code);
  }
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// A writer that commits and begins again in a tight loop lets go of the
// writer's lock only for moments; another writer waiting for it must still
// get it (it queues, and the lock goes to it next) well within its time limit.
TEST_F(SharingTest, AWriterWaitingGetsTheLockFromAWriterThatCommitsInALoop) {
  make_shop(20);
  const std::string stop = (dir_ / "stop").string();
  const std::string started = (dir_ / "started").string();
  pid_t looper = spawn([&] {
    auto db = Database::open(file_, rw("Looper"));
    Table& items = db->table("Items");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int n = 0; (n % 32 != 0 || !fs::exists(stop)) && std::chrono::steady_clock::now() < until; ++n) {
      Transaction tx(*db);
      for (int k = 0; k < 50; ++k) add_qty(items, k % 10, 1);  // holds the lock for a while
      tx.commit();
      if (n == 20) std::fclose(std::fopen(started.c_str(), "w"));
    }
    return fs::exists(stop) ? 0 : 1;
  });
  while (!fs::exists(started)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  OpenOptions o = rw("Waiter");
  o.lock_timeout_ms = 1000;
  auto db = Database::open(file_, o);
  Table& items = db->table("Items");
  int done = 0;
  std::string failure;
  for (int k = 0; k < 10; ++k) {
    try {
      Transaction tx(*db);
      add_qty(items, 15, 1);
      tx.commit();
      ++done;
    } catch (const Error& e) {
      failure = e.what();
      break;
    }
  }
  std::fclose(std::fopen(stop.c_str(), "w"));
  EXPECT_EQ(wait_for(looper), 0);
  EXPECT_EQ(done, 10) << failure;
}

TEST_F(SharingTest, ThreeProcessesPostUpdateAndReadOneFile) {
  constexpr int kProducts = 2000, kPosted = 1000, kGroups = 100, kGroupSize = 100, kUpdates = 1000;
  make_shop(kProducts);
  const auto start = std::chrono::steady_clock::now();
  // The poster: groups of records, each group one transaction: a Posted row
  // and its product's Qty raised by one, for products 0..999.
  pid_t poster = spawn([&] {
    auto db = Database::open(file_, rw("Poster"));
    Table& items = db->table("Items");
    Table& posted = db->table("Posted");
    for (int g = 0; g < kGroups; ++g) {
      Transaction tx(*db);
      for (int k = 0; k < kGroupSize; ++k) {
        const int p = (g * kGroupSize + k) % kPosted;
        posted.insert(Row{Value{}, code(p), int32_t(1)});
        add_qty(items, p, 1);
      }
      tx.commit();
    }
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  // The updater: single updates of products 1000..1999, one per commit.
  pid_t updater = spawn([&] {
    auto db = Database::open(file_, rw("Updater"));
    Table& items = db->table("Items");
    for (int u = 0; u < kUpdates; ++u) {
      Transaction tx(*db);
      add_qty(items, kPosted + (u * 7) % (kProducts - kPosted), 1);
      tx.commit();
    }
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  // The reader: until both writers are done, one snapshot at a time: the
  // posted rows and the raised quantities must match, in whole groups.
  int pipe_fd[2];
  ASSERT_EQ(::pipe(pipe_fd), 0);
  pid_t reader = spawn([&] {
    ::close(pipe_fd[1]);
    ::fcntl(pipe_fd[0], F_SETFL, O_NONBLOCK);
    auto db = Database::open(file_);
    int loops = 0;
    for (;;) {
      {
        ReadSnapshot snap(*db);
        int64_t posted_qty = 0, updated_qty = 0;
        for (auto c = db->table("Items").scan(); c.next();) {
          const std::string& k = std::get<std::string>(c.row()[0]);
          const int i = std::stoi(k.substr(1)) - 100000;
          (i < kPosted ? posted_qty : updated_qty) += std::get<int32_t>(c.row()[1]);
        }
        int64_t posted_rows = 0;
        for (auto c = db->table("Posted").scan(); c.next();) ++posted_rows;
        if (posted_rows != posted_qty || posted_rows % kGroupSize != 0 || updated_qty > kUpdates) {
          std::fprintf(stderr, "torn read: %lld posted rows, %lld posted quantity, %lld updated\n",
                       (long long)posted_rows, (long long)posted_qty, (long long)updated_qty);
          return 1;
        }
      }
      ++loops;
      char c;
      if (::read(pipe_fd[0], &c, 1) == 0) break;  // the parent closed it: the writers are done
    }
    std::fprintf(stderr, "reader: %d consistent reads\n", loops);
    return loops > 0 ? 0 : 2;
  });
  ::close(pipe_fd[0]);
  // The pipe stays open while the writers run.
  const int poster_status = wait_for(poster);
  const int updater_status = wait_for(updater);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(pipe_fd[1]);
  const int reader_status = wait_for(reader);
  EXPECT_EQ(poster_status, 0);
  EXPECT_EQ(updater_status, 0);
  EXPECT_EQ(reader_status, 0);
  std::printf("three processes: %d posting records in %d groups and %d single updates in %.2f s\n",
              kGroups * kGroupSize, kGroups, kUpdates, seconds);

  auto db = Database::open(file_);
  int64_t posted_qty = 0, updated_qty = 0;
  for (auto c = db->table("Items").scan(); c.next();) {
    const int i = std::stoi(std::get<std::string>(c.row()[0]).substr(1)) - 100000;
    (i < kPosted ? posted_qty : updated_qty) += std::get<int32_t>(c.row()[1]);
  }
  EXPECT_EQ(posted_qty, kGroups * kGroupSize);
  EXPECT_EQ(updated_qty, kUpdates);
  EXPECT_EQ(db->table("Posted").row_count(), uint32_t(kGroups * kGroupSize));
  CheckReport r = check_database(*db);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
}

}  // namespace
}  // namespace jet
