// Faults on real files: a read-only file, a file another writer changes, a
// full file system, a damaged file. Each must fail with a clear error and
// leave the file as it was. Also the Jet lock file (.ldb) beside a file
// open for writing.
//
// The read-only and full file systems are size-limited or read-only tmpfs
// mounts when the test runs as root with mount permission (as in the
// project's sandbox and CI); otherwise the read-only case falls back to file
// permissions and the full-disk case is skipped here (journal_test covers it
// on the in-memory Env).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "data_page.h"
#include "binary.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"
#include "lock_file.h"
#include "pager.h"
#include "test_util.h"
#include "testing/fault_env.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kFixture = "V2000_no-password.mdb";

using test::error_of;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ScratchDir {
 public:
  ScratchDir() {
    static int n = 0;
    path_ = fs::path(::testing::TempDir()) / ("jet_fault_" + std::to_string(::getpid()) + "_" + std::to_string(++n));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  // Mounts a tmpfs of `kib` KiB here; false when not permitted.
  bool mount_tmpfs(int kib) {
    std::string opts = "size=" + std::to_string(kib) + "k,mode=0777";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    return mounted_;
  }
  bool remount_read_only() {
    return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string copy_fixture(const std::string& name) const {
    std::string to = file(name);
    fs::copy_file(test::fixture(kFixture), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    return to;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
  bool mounted_ = false;
};

OpenOptions writer_options() {
  OpenOptions o;
  o.read_write = true;
  return o;
}

std::size_t rows_of(const std::string& path) { return Database::open(path)->table("Table1").read_all().size(); }

TEST(FaultTest, AReadOnlyFileRefusesWritingClearlyAndStaysAsItWas) {
  ScratchDir dir;
  std::string path;
  if (dir.mount_tmpfs(1024)) {
    path = dir.copy_fixture("ro.mdb");
    ASSERT_TRUE(dir.remount_read_only()) << std::strerror(errno);
  } else if (::geteuid() != 0) {
    path = dir.copy_fixture("ro.mdb");
    fs::permissions(path, fs::perms::owner_read);
  } else {
    GTEST_SKIP() << "running as root without mount permission: no way to make a file read-only";
  }
  const Bytes before = test::read_file(path);
  Error e = error_of([&] { Database::open(path, writer_options()); });
  EXPECT_EQ(e.category(), ErrorCategory::kIo);
  EXPECT_TRUE(contains(e.what(), path)) << e.what();
  EXPECT_TRUE(contains(e.what(), "Read-only file system") || contains(e.what(), "Permission denied")) << e.what();
  EXPECT_EQ(test::read_file(path), before);
  EXPECT_EQ(rows_of(path), 3u) << "readers still open it";
  EXPECT_EQ(dir.names(), std::vector<std::string>{"ro.mdb"}) << "no lock file or journal left behind";
}

TEST(FaultTest, AWriteTransactionOfAnotherProcessLocksWritersForItsLengthOnly) {
  ScratchDir dir;
  const std::string path = dir.copy_fixture("held.mdb");
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    int code = 0;
    try {
      OpenOptions o = writer_options();
      o.user_name = "Clerk";
      auto db = Database::open(path, o);
      Table& t = db->table("Table1");
      t.insert(Row{Value(int32_t(4)), Value(std::string("Four"))});
      // A transaction held open: the writer's lock, nothing in the file yet.
      Transaction tx(*db);
      t.insert(Row{Value(int32_t(5)), Value(std::string("Five"))});
      char c = 1;
      if (::write(ready[1], &c, 1) != 1) code = 3;
      ::read(release[0], &c, 1);  // until the parent closes its end
    } catch (...) {
      code = 2;
    }
    ::_exit(code);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1) << "the other writer did not start";
  const Bytes before = test::read_file(path);

  // A second writer opens the file; its change waits for the other one's
  // transaction, up to its time limit, and names the file and who has it.
  OpenOptions o = writer_options();
  o.lock_timeout_ms = 200;
  auto second = Database::open(path, o);
  Error e = error_of([&] { second->table("Table1").insert(Row{Value(int32_t(6)), Value(std::string("Six"))}); });
  EXPECT_EQ(e.category(), ErrorCategory::kLocked);
  EXPECT_TRUE(contains(e.what(), path)) << e.what();
  EXPECT_TRUE(contains(e.what(), "locked")) << e.what();
  EXPECT_TRUE(contains(e.what(), "/Clerk")) << e.what();
  EXPECT_EQ(rows_of(path), 4u) << "readers open it and see the other writer's commits, not its open transaction";
  EXPECT_EQ(test::read_file(path), before);

  // The other writer is in the Jet lock file.
  Bytes ldb = test::read_file(LockFile::path_for(path));
  ASSERT_GE(ldb.size(), 64u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ldb.data() + 32)), "Clerk");

  ::close(release[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // Its transaction ended with it: the second writer goes on.
  second->table("Table1").insert(Row{Value(int32_t(6)), Value(std::string("Six"))});
  EXPECT_EQ(second->table("Table1").read_all().size(), 5u);
  second.reset();
  EXPECT_FALSE(fs::exists(LockFile::path_for(path))) << "the last user out removes the lock file";
  EXPECT_NO_THROW(Database::open(path, writer_options())) << "free again once the other writer closed";
}

TEST(FaultTest, AFullFileSystemFailsTheCommitAndLeavesTheLastCommittedState) {
  ScratchDir dir;
  if (!dir.mount_tmpfs(400)) GTEST_SKIP() << "tmpfs mounts not permitted here; journal_test covers a full disk";
  const std::string path = dir.copy_fixture("full.mdb");
  const std::string text(200, 'f');
  // One big transaction that cannot fit: refused whole.
  {
    const Bytes before = test::read_file(path);
    auto db = Database::open(path, writer_options());
    Table& t = db->table("Table1");
    Transaction tx(*db);
    for (int i = 0; i < 2000; ++i) t.insert(Row{Value(int32_t(100 + i)), Value(text)});
    Error e = error_of([&] { tx.commit(); });
    EXPECT_EQ(e.category(), ErrorCategory::kIo);
    EXPECT_TRUE(contains(e.what(), "No space left on device")) << e.what();
    EXPECT_TRUE(contains(e.what(), "full.mdb")) << e.what();
    EXPECT_EQ(test::read_file(path), before);
    EXPECT_EQ(t.read_all().size(), 3u);
  }
  // Row by row (each commits on its own) until the disk is full: the
  // failing insert leaves the file as of the one before.
  int inserted = 0;
  {
    auto db = Database::open(path, writer_options());
    Table& t = db->table("Table1");
    for (int i = 0; i < 5000; ++i) {
      Bytes before = test::read_file(path);
      try {
        t.insert(Row{Value(int32_t(100 + i)), Value(text)});
        ++inserted;
      } catch (const Error& e) {
        EXPECT_EQ(e.category(), ErrorCategory::kIo) << e.what();
        EXPECT_TRUE(contains(e.what(), "No space left on device")) << e.what();
        EXPECT_EQ(test::read_file(path), before) << "a failed insert changed the file";
        break;
      }
    }
    EXPECT_GT(inserted, 10);
    EXPECT_LT(inserted, 5000) << "the file system never filled up";
  }
  EXPECT_EQ(rows_of(path), 3u + inserted);
  test::run_command("mdb-export " + test::shell_quote(path) + " Table1 > /dev/null");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"full.mdb"});
}

TEST(FaultTest, ADamagedFileFailsClearlyAndIsNotWritten) {
  ScratchDir dir;
  // Cut short: refused at open, nothing created beside it.
  const std::string cut = dir.copy_fixture("cut.mdb");
  fs::resize_file(cut, 2 * kPageSize + 100);
  const Bytes cut_bytes = test::read_file(cut);
  Error e = error_of([&] { Database::open(cut, writer_options()); });
  EXPECT_EQ(e.category(), ErrorCategory::kCorruption);
  EXPECT_TRUE(contains(e.what(), "cut.mdb")) << e.what();
  EXPECT_EQ(test::read_file(cut), cut_bytes);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"cut.mdb"});

  // A damaged data page: changes to its rows fail and write nothing.
  const std::string path = dir.copy_fixture("damaged.mdb");
  RowId first;
  Row row;
  {
    auto db = Database::open(path);
    auto c = db->table("Table1").scan();
    ASSERT_TRUE(c.next());
    first = c.id();
    row = c.row();
  }
  {
    Bytes bytes = test::read_file(path);
    uint8_t* page = bytes.data() + std::size_t(first.page) * kPageSize;
    put_le16(page + kDataOffRowCount, 0x0FFF);  // more slots than the page can hold
    auto f = Env::posix()->open_file(path, OpenMode::kReadWrite);
    f->write_at(0, bytes.size(), bytes.data());
  }
  const Bytes damaged = test::read_file(path);
  auto db = Database::open(path, writer_options());
  Table& t = db->table("Table1");
  row[1] = std::string(150, 'g');
  Error up = error_of([&] { t.update(first, row); });
  EXPECT_EQ(up.category(), ErrorCategory::kCorruption) << up.what();
  EXPECT_TRUE(contains(up.what(), "damaged.mdb")) << up.what();
  Error rm = error_of([&] { t.remove(first); });
  EXPECT_EQ(rm.category(), ErrorCategory::kCorruption) << rm.what();
  EXPECT_FALSE(db->pager().in_unit());
  EXPECT_EQ(test::read_file(path), damaged);
}

// A hot journal (a crash after the file was written, before the commit
// point) built on the in-memory Env and copied to disk as the crash left it.
void write_hot_journal_pair(const std::string& db_path) {
  auto make = [](testing::FaultEnv& env, int kill_at) {
    env.load_file(test::fixture(kFixture), "x.mdb");
    OpenOptions o;
    o.read_write = true;
    o.env = &env;
    auto db = Database::open("x.mdb", o);
    Table& t = db->table("Table1");
    Transaction tx(*db);
    for (int i = 0; i < 50; ++i) t.insert(Row{Value(int32_t(10 + i)), Value(std::string(100, 'h'))});
    int start = env.changing_ops();
    if (kill_at > 0) env.kill_after(kill_at);
    try {
      tx.commit();
    } catch (const Error&) {
    }
    return env.changing_ops() - start;
  };
  testing::FaultEnv probe;
  int total = make(probe, 0);
  testing::FaultEnv env;
  make(env, total - 1);  // killed at the commit point: zeroing the header
  env.crash();
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"x.mdb", db_path},
                                 std::pair<std::string, std::string>{"x.mdb-journal", db_path + "-journal"}}) {
    Bytes bytes = env.contents(from);
    ASSERT_FALSE(bytes.empty()) << from;
    auto f = Env::posix()->open_file(to, OpenMode::kCreate);
    f->write_at(0, bytes.size(), bytes.data());
  }
}

TEST(FaultTest, AReaderRollsBackAHotJournalOrSaysWhyItCannot) {
  ScratchDir dir;
  if (!dir.mount_tmpfs(2048)) GTEST_SKIP() << "tmpfs mounts not permitted here";
  const std::string path = dir.file("hot.mdb");
  write_hot_journal_pair(path);
  const Bytes torn = test::read_file(path);
  ASSERT_NE(torn, test::read_file(test::fixture(kFixture))) << "the crash should come after the file was written";
  ASSERT_TRUE(dir.remount_read_only());
  Error e = error_of([&] { Database::open(path); });
  EXPECT_EQ(e.category(), ErrorCategory::kIo);
  EXPECT_TRUE(contains(e.what(), "unfinished commit")) << e.what();
  EXPECT_TRUE(contains(e.what(), "hot.mdb-journal")) << e.what();
  EXPECT_EQ(test::read_file(path), torn);
  ASSERT_EQ(::mount(nullptr, fs::path(path).parent_path().c_str(), nullptr, MS_REMOUNT, nullptr), 0);
  EXPECT_EQ(rows_of(path), 3u) << "a reader that can write the file rolls the commit back";
  EXPECT_EQ(test::read_file(path), test::read_file(test::fixture(kFixture)));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"hot.mdb"});
}

// ---- the Jet lock file ----

TEST(LockFileTest, NamesFollowTheDatabase) {
  EXPECT_EQ(LockFile::path_for("/shop/products.mdb"), "/shop/products.ldb");
  EXPECT_EQ(LockFile::path_for("/shop/PRODUCTS.MDB"), "/shop/PRODUCTS.ldb");
  EXPECT_EQ(LockFile::path_for("/shop.d/products"), "/shop.d/products.ldb");
  EXPECT_EQ(LockFile::path_for("scanner.mdb"), "scanner.ldb");
}

TEST(LockFileTest, WritersEnterThemselvesAndTheLastOneOutRemovesIt) {
  testing::FaultEnv env;
  env.load_file(test::fixture(kFixture), "shop/products.mdb");
  env.set_computer_name("TILL-2");
  auto entry = [&](int slot) {
    Bytes ldb = env.contents("shop/products.ldb");
    if (ldb.size() < std::size_t(slot + 1) * 64) return std::pair<std::string, std::string>{};
    const char* p = reinterpret_cast<const char*>(ldb.data() + slot * 64);
    return std::pair<std::string, std::string>{std::string(p, strnlen(p, 32)), std::string(p + 32, strnlen(p + 32, 32))};
  };
  {
    // The point-of-sale system's own session, as another user.
    LockFile pos(env, "shop/products.mdb", "POS-FRONT", "Admin");
    EXPECT_EQ(pos.slot(), 0);
    OpenOptions o;
    o.read_write = true;
    o.env = &env;
    auto reader = Database::open("shop/products.mdb", OpenOptions{.password = "", .read_write = false, .env = &env});
    EXPECT_EQ(env.contents("shop/products.ldb").size(), 64u) << "readers do not enter themselves";
    {
      auto db = Database::open("shop/products.mdb", o);
      EXPECT_EQ(entry(0), std::make_pair(std::string("POS-FRONT"), std::string("Admin")));
      EXPECT_EQ(entry(1), std::make_pair(std::string("TILL-2"), std::string("Admin")));
      Bytes ldb = env.contents("shop/products.ldb");
      ASSERT_EQ(ldb.size(), 128u);
      EXPECT_TRUE(std::all_of(ldb.begin() + 64 + 6, ldb.begin() + 96, [](uint8_t b) { return b == 0; }))
          << "names are NUL-padded to 32 bytes";
    }
    EXPECT_TRUE(env.file_exists("shop/products.ldb")) << "another user is still in";
  }
  EXPECT_FALSE(env.file_exists("shop/products.ldb")) << "the last user out removes it";

  // A stale entry of a user who crashed is reused; long and non-ASCII
  // names are cut to fit.
  env.put_file("shop/products.ldb", Bytes(64, 'Z'));
  {
    LockFile me(env, "shop/products.mdb", "a-very-long-host-name-that-goes-on-and-on.example", "K\xC3\xA4ssa");
    EXPECT_EQ(me.slot(), 0);
    EXPECT_EQ(entry(0).first, "a-very-long-host-name-that-goes");
    EXPECT_EQ(entry(0).second, "K?ssa");
  }
  EXPECT_FALSE(env.file_exists("shop/products.ldb"));
}

}  // namespace
}  // namespace jet
