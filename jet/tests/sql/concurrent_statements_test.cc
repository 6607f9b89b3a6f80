// Statements that change rows in a file other processes write at the same
// time: each reads the rows it changes under the writer's lock, so no
// process's change is lost to another's commit in between.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"
#include "sql_test_util.h"

namespace {

using jet::dao::Database;

// Runs `body` in a child process; its exit status is 0 when it returned
// normally, 100 when it threw.
pid_t spawn(const std::function<void()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 0;
    try {
      body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child %d: %s\n", static_cast<int>(::getpid()), e.what());
      code = 100;
    }
    ::_exit(code);
  }
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

int64_t number(const jet::Value& v) { return std::get<int32_t>(v); }

TEST(ConcurrentStatements, NoProcessLosesAnUpdateToAnotherProcessCommittingInBetween) {
  sqltest::ScratchDir dir;
  const std::string path = dir.path("shared.mdb").string();
  {
    auto db = Database::create(path, jet::dao::kLangGeneral);
    db->execute("CREATE TABLE Counter (ID LONG PRIMARY KEY, N LONG)");
    db->execute("CREATE TABLE Queue (ID LONG PRIMARY KEY, Taken LONG)");
    db->execute("CREATE TABLE Copies (ID COUNTER PRIMARY KEY, Seen LONG)");
    db->execute("INSERT INTO Counter (ID, N) VALUES (1, 0)");
    for (int i = 1; i <= 200; ++i) db->execute("INSERT INTO Queue (ID, Taken) VALUES (" + std::to_string(i) + ", 0)");
    db->close();
  }
  // Each process adds to the counter through a statement that reads it,
  // tries to take the lowest queue entry it saw free (an UPDATE whose WHERE
  // the others' updates may have made false), and copies the counter.
  constexpr int kProcesses = 3, kRounds = 40;
  std::vector<pid_t> children;
  for (int k = 1; k <= kProcesses; ++k) {
    children.push_back(spawn([&, k] {
      jet::dao::OpenOptions o;
      o.durability = jet::Durability::kFast;
      auto db = Database::open(path, o);
      int taken = 0;
      for (int r = 0; r < kRounds; ++r) {
        db->execute("UPDATE Counter SET N = N + 1 WHERE ID = 1");
        auto rs = db->open_recordset("SELECT MIN(ID) FROM Queue WHERE Taken = 0");
        const int64_t lowest = number(rs->field(0));
        rs->close();
        db->execute("UPDATE Queue SET Taken = " + std::to_string(k) + " WHERE ID = " + std::to_string(lowest) +
                    " AND Taken = 0");
        taken += static_cast<int>(db->records_affected());
        db->execute("INSERT INTO Copies (Seen) SELECT N FROM Counter WHERE ID = 1");
      }
      std::FILE* f = std::fopen((dir.path("taken" + std::to_string(k))).c_str(), "w");
      std::fprintf(f, "%d\n", taken);
      std::fclose(f);
    }));
  }
  for (pid_t pid : children) EXPECT_EQ(wait_for(pid), 0);

  jet::dao::OpenOptions ro;
  ro.read_only = true;
  auto db = Database::open(path, ro);
  auto counter = db->open_recordset("SELECT N FROM Counter WHERE ID = 1");
  EXPECT_EQ(number(counter->field(0)), kProcesses * kRounds) << "an increment was lost";
  for (int k = 1; k <= kProcesses; ++k) {
    int reported = -1;
    std::FILE* f = std::fopen((dir.path("taken" + std::to_string(k))).c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fscanf(f, "%d", &reported), 1);
    std::fclose(f);
    auto rs = db->open_recordset("SELECT COUNT(*) FROM Queue WHERE Taken = " + std::to_string(k));
    EXPECT_EQ(number(rs->field(0)), reported) << "process " << k << " took entries another process took over";
  }
  auto copies = db->open_recordset("SELECT COUNT(*), MIN(Seen), MAX(Seen) FROM Copies");
  EXPECT_EQ(number(copies->field(0)), kProcesses * kRounds);
  EXPECT_GE(number(copies->field(1)), 1);
  EXPECT_LE(number(copies->field(2)), kProcesses * kRounds);
}

}  // namespace
