// Benchmark (not a test): what a commit costs, durable against fast, with
// the disk's own fsync measured in the same run as the peer.
//
//   jet_commit_cost [DIR]     (default: a fresh folder under /tmp)
//
// Prints, for single-row commits on one file, one-row-per-file commits on
// two files, and 100,000 inserts in one transaction: milliseconds per
// commit, file and directory syncs per commit, and the ratio of a durable
// commit to one bare write+fdatasync of a 4 KiB page.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "jet/database.h"
#include "jet/env.h"
#include "jet/error.h"
#include "jet/transaction.h"

namespace {

using Clock = std::chrono::steady_clock;
double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Env decorator counting file and directory syncs.
class CountingEnv final : public jet::Env {
 public:
  long file_syncs = 0, dir_syncs = 0;
  class CountingFile final : public jet::File {
   public:
    CountingFile(std::unique_ptr<jet::File> f, long* syncs) : f_(std::move(f)), syncs_(syncs) {}
    std::size_t read_at(uint64_t o, std::size_t n, uint8_t* out) override { return f_->read_at(o, n, out); }
    void write_at(uint64_t o, std::size_t n, const uint8_t* d) override { f_->write_at(o, n, d); }
    void sync() override {
      ++*syncs_;
      f_->sync();
    }
    void truncate(uint64_t s) override { f_->truncate(s); }
    uint64_t size() override { return f_->size(); }
    bool try_lock(jet::LockKind k) override { return f_->try_lock(k); }
    void unlock() override { f_->unlock(); }
    bool try_lock_range(uint64_t o, uint64_t l, jet::LockKind k) override { return f_->try_lock_range(o, l, k); }
    void unlock_range(uint64_t o, uint64_t l) override { f_->unlock_range(o, l); }
    const std::string& path() const override { return f_->path(); }

   private:
    std::unique_ptr<jet::File> f_;
    long* syncs_;
  };
  std::unique_ptr<jet::File> open_file(const std::string& p, jet::OpenMode m) override {
    return std::make_unique<CountingFile>(base_->open_file(p, m), &file_syncs);
  }
  bool file_exists(const std::string& p) override { return base_->file_exists(p); }
  void remove_file(const std::string& p) override { base_->remove_file(p); }
  void rename_file(const std::string& a, const std::string& b) override { base_->rename_file(a, b); }
  void sync_dir(const std::string& p) override {
    ++dir_syncs;
    base_->sync_dir(p);
  }
  std::string computer_name() override { return base_->computer_name(); }

 private:
  jet::Env* base_ = jet::Env::posix();
};

std::string copy_fixture(const std::filesystem::path& dir, const std::string& name) {
  auto to = dir / name;
  std::filesystem::copy_file(std::string(TALLIMO_FIXTURES) + "/V2000_no-password.mdb", to,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  return to.string();
}

jet::Row row(int32_t id) { return jet::Row{jet::Value(id), jet::Value(std::string("row ") + std::to_string(id))}; }

struct Figures {
  double ms_per_commit;
  double file_syncs;
  double dir_syncs;
};

Figures single_row_commits(const std::filesystem::path& dir, jet::Durability d, int n) {
  CountingEnv env;
  std::string path = copy_fixture(dir, d == jet::Durability::kDurable ? "one_durable.mdb" : "one_fast.mdb");
  jet::OpenOptions o;
  o.read_write = true;
  o.env = &env;
  o.durability = d;
  auto db = jet::Database::open(path, o);
  jet::Table& t = db->table("Table1");
  t.insert(row(1000));  // creates the journal: the first commit syncs its directory once
  long fs0 = env.file_syncs, ds0 = env.dir_syncs;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) t.insert(row(2000 + i));
  double ms = ms_since(t0);
  return Figures{ms / n, double(env.file_syncs - fs0) / n, double(env.dir_syncs - ds0) / n};
}

Figures two_file_commits(const std::filesystem::path& dir, jet::Durability d, int n) {
  CountingEnv env;
  std::string tag = d == jet::Durability::kDurable ? "durable" : "fast";
  jet::OpenOptions o;
  o.read_write = true;
  o.env = &env;
  o.durability = d;
  auto a = jet::Database::open(copy_fixture(dir, "two_a_" + tag + ".mdb"), o);
  auto b = jet::Database::open(copy_fixture(dir, "two_b_" + tag + ".mdb"), o);
  auto step = [&](int i) {
    jet::Transaction tx({a.get(), b.get()});
    a->table("Table1").insert(row(i));
    b->table("Table1").insert(row(i));
    tx.commit();
  };
  step(1000);
  long fs0 = env.file_syncs, ds0 = env.dir_syncs;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) step(2000 + i);
  double ms = ms_since(t0);
  return Figures{ms / n, double(env.file_syncs - fs0) / n, double(env.dir_syncs - ds0) / n};
}

// 100,000 inserts in one transaction: the whole and the commit alone.
void bulk(const std::filesystem::path& dir, jet::Durability d) {
  CountingEnv env;
  jet::OpenOptions o;
  o.read_write = true;
  o.env = &env;
  o.durability = d;
  const std::string path = copy_fixture(dir, d == jet::Durability::kDurable ? "bulk_d.mdb" : "bulk_f.mdb");
  auto db = jet::Database::open(path, o);
  jet::Table& t = db->table("Table1");
  auto t0 = Clock::now();
  jet::Transaction tx(*db);
  for (int i = 0; i < 100000; ++i) t.insert(row(10 + i));
  double build = ms_since(t0);
  long fs0 = env.file_syncs, ds0 = env.dir_syncs;
  auto t1 = Clock::now();
  tx.commit();
  double commit = ms_since(t1);
  std::printf("100,000 inserts, one %s transaction: %8.1f ms (statements %.1f ms, commit %.1f ms; %ld file + %ld "
              "directory syncs; file now %.1f MB)\n",
              d == jet::Durability::kDurable ? "durable" : "fast   ", build + commit, build, commit,
              env.file_syncs - fs0, env.dir_syncs - ds0, std::filesystem::file_size(path) / 1e6);
}

}  // namespace

// The peer: one 4 KiB write and fdatasync on the same file system.
double bare_fsync_ms(const std::filesystem::path& dir, int n) {
  std::string path = (dir / "fsync_probe").string();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw jet::Error(jet::ErrorCategory::kIo, path + ": cannot create");
  char page[4096] = {};
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    page[0] = static_cast<char>(i);
    if (::pwrite(fd, page, sizeof page, 0) != sizeof page || ::fdatasync(fd) != 0) {
      ::close(fd);
      throw jet::Error(jet::ErrorCategory::kIo, path + ": write or sync failed");
    }
  }
  double ms = ms_since(t0) / n;
  ::close(fd);
  std::filesystem::remove(path);
  return ms;
}

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("jet_commit_cost_" + std::to_string(::getpid()));
  try {
    fs::create_directories(dir);
    const double fsync_ms = bare_fsync_ms(dir, 50);
    std::printf("folder: %s\n", dir.c_str());
    std::printf("bare 4 KiB write + fdatasync (the peer):          %7.3f ms\n", fsync_ms);
    auto report = [&](const char* what, const Figures& f) {
      std::printf("%-48s %7.3f ms/commit  %4.1f file syncs + %3.1f dir syncs  = %5.1f x bare fsync\n", what,
                  f.ms_per_commit, f.file_syncs, f.dir_syncs, f.ms_per_commit / fsync_ms);
    };
    report("single-row commit, one file, durable:", single_row_commits(dir, jet::Durability::kDurable, 100));
    report("single-row commit, one file, fast:", single_row_commits(dir, jet::Durability::kFast, 2000));
    report("one row in each of two files, durable:", two_file_commits(dir, jet::Durability::kDurable, 50));
    report("one row in each of two files, fast:", two_file_commits(dir, jet::Durability::kFast, 1000));
    bulk(dir, jet::Durability::kDurable);
    bulk(dir, jet::Durability::kFast);
    if (argc <= 1) fs::remove_all(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "jet_commit_cost: %s\n", e.what());
    return 1;
  }
  return 0;
}
