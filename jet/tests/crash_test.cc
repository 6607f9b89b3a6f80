// Atomicity under SIGKILL: a writer process runs transactions over two
// database files (crash/crash_workload.h) and is killed at 200 random
// moments. After each kill the files are opened again (alternately by a
// reader and by a writer, so both recover hot journals) and must hold
// exactly the state of the last commit the writer made: the one it last
// reported, or the next one when the kill came after that commit's commit
// point but before its report. Every 20th kill, and after the last, the
// independent readers (mdb-export, mdb-reader) must read the same rows.
//
// JET_CRASH_SEED=<n> replays one run (the seed is printed on failure).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "crash/crash_workload.h"
#include "independent_readers.h"
#include "jet/database.h"
#include "jet/error.h"
#include "lock_file.h"
#include "test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

struct Writer {
  pid_t pid = -1;
  int out = -1;  // read end of its standard output
};

Writer start_writer(const std::string& a, const std::string& b) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl(JET_CRASH_WRITER, JET_CRASH_WRITER, a.c_str(), b.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  return Writer{pid, fds[0]};
}

// Reads the writer's output up to and including its first report (a line),
// which `text` then holds; false when the writer ended first.
bool wait_for_report(int fd, std::string& text) {
  char c;
  while (::read(fd, &c, 1) == 1) {
    text.push_back(c);
    if (c == '\n') return true;
  }
  return false;
}

// Everything the writer printed (after `text`, read already); the highest
// generation it reported.
long drain(int fd, long reported, std::string text = {}) {
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;  // a line cut by the kill
    reported = std::max(reported, std::stol(text.substr(pos, end - pos)));
    pos = end + 1;
  }
  return reported;
}

std::vector<std::string> texts(const std::vector<Row>& rows, const std::vector<ColumnDef>& columns) {
  std::vector<std::string> out;
  for (const Row& r : rows) out.push_back(test::exact_row_text(r, columns));
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> leftovers(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name.find("-journal") != std::string::npos || name.find("-super-") != std::string::npos) out.push_back(name);
  }
  return out;
}

TEST(CrashTest, KilledWriterLeavesBothFilesAsOfTheLastCommit) {
  const unsigned seed = std::getenv("JET_CRASH_SEED") ? static_cast<unsigned>(std::atoi(std::getenv("JET_CRASH_SEED")))
                                                      : std::random_device{}();
  SCOPED_TRACE("JET_CRASH_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  const fs::path dir = fs::path(::testing::TempDir()) / ("jet_crash_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string a = (dir / "scanner.mdb").string(), b = (dir / "products.mdb").string();
  for (const auto& p : {a, b}) {
    fs::copy_file(test::fixture("V2000_no-password.mdb"), p);
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
  }

  constexpr int kKills = 200;
  long known = 0;  // the generation the files held at the last check
  int advanced = 0, beyond_report = 0;
  for (int kill_no = 1; kill_no <= kKills; ++kill_no) {
    Writer w = start_writer(a, b);
    // Startup (open, recovery, a scan) takes a few milliseconds, many more in
    // a sanitizer build; kill anywhere from before the first commit to
    // several commits in. Every other kill first waits for the writer's first
    // commit of this run, so the run makes progress however slow the start.
    std::string early;
    if (kill_no % 2 == 0) wait_for_report(w.out, early);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(500, 100000)(rng)));
    ::kill(w.pid, SIGKILL);
    int status = 0;
    ::waitpid(w.pid, &status, 0);
    long reported = drain(w.out, known, early);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself (status " << status << ") at kill " << kill_no;

    // Recover and read: a reader first on even kills, a writer on odd ones.
    std::vector<Row> scanner_rows, product_rows;
    std::vector<ColumnDef> columns;
    try {
      OpenOptions o;
      o.read_write = kill_no % 2 == 1;
      auto pdb = Database::open(b, o);
      auto sdb = Database::open(a, o);
      product_rows = pdb->table("Table1").read_all();
      scanner_rows = sdb->table("Table1").read_all();
      columns = pdb->table("Table1").columns();
    } catch (const Error& e) {
      FAIL() << "kill " << kill_no << ": the files do not open after the kill: " << e.what();
    }
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{}) << "kill " << kill_no;
    long g = crash::generation_of(product_rows);
    ASSERT_TRUE(g == reported || g == reported + 1)
        << "kill " << kill_no << ": products.mdb is at generation " << g << " but the writer last reported " << reported;
    EXPECT_EQ(texts(product_rows, columns), texts(crash::expected_products(g), columns)) << "kill " << kill_no;
    EXPECT_EQ(texts(scanner_rows, columns), texts(crash::expected_scanner(g), columns))
        << "kill " << kill_no << ": scanner.mdb does not match products.mdb's generation " << g;
    if (g > known) ++advanced;
    if (g == reported + 1) ++beyond_report;
    known = g;
    if (kill_no % 20 == 0) {
      test::expect_independent_readers_agree(a, "", {{"Table1", crash::expected_scanner(g)}});
      test::expect_independent_readers_agree(b, "", {{"Table1", crash::expected_products(g)}});
    }
    if (::testing::Test::HasFailure()) break;
  }
  // The run must have made progress between kills for the test to mean
  // anything (it does on this machine: most kills come after commits).
  EXPECT_GT(advanced, kKills / 8) << "final generation " << known;
  std::printf("[ crash    ] %d kills, final generation %ld, %d kills advanced the files, %d landed between a "
              "commit point and its report\n",
              kKills, known, advanced, beyond_report);
  // The killed writers' lock file entries are stale; the next writer reuses
  // a slot and removes the file when it closes.
  {
    OpenOptions o;
    o.read_write = true;
    auto db = Database::open(b, o);
  }
  EXPECT_FALSE(fs::exists(LockFile::path_for(b)));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace jet
