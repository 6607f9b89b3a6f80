// tallimo-cli as a shop's scheduler runs it: exit codes, the instructions box
// answered by --yes or refused without a terminal, SIGTERM as Abort, the status
// lines on stdout and the message boxes on stderr.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "simulator_process.h"

namespace tallimo {
namespace {

struct Result {
  int status = -1;  // exit code, or -signal
  std::string out, err;
};

// Runs tallimo-cli with `args`, stdin from /dev/null; `on_line` may act on stdout lines.
Result cli(const std::vector<std::string>& args, const std::string& dir, bool term_on_record = false) {
  const std::string out_file = dir + "/out.txt", err_file = dir + "/err.txt";
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], 1);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    std::FILE* err = std::fopen(err_file.c_str(), "w");
    std::FILE* in = std::fopen("/dev/null", "r");
    if (err) ::dup2(fileno(err), 2);
    if (in) ::dup2(fileno(in), 0);
    std::vector<char*> argv{const_cast<char*>(TALLIMO_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TALLIMO_CLI, argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  Result r;
  std::FILE* out = ::fdopen(pipe_fds[0], "r");
  char line[512];
  bool sent = false;
  while (std::fgets(line, sizeof line, out) != nullptr) {
    r.out += line;
    if (term_on_record && !sent && std::string(line).find(" | Rec: 3 / ") != std::string::npos) {
      ::kill(pid, SIGTERM);
      sent = true;
    }
  }
  std::fclose(out);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
  std::ifstream e(err_file);
  std::stringstream s;
  s << e.rdbuf();
  r.err = s.str();
  return r;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tallimo-cli-test-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    ASSERT_EQ(cli({"demo", dir_}, dir_).status, 0);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  // Serves the demo's scanner contents; COM5 names it.
  std::unique_ptr<SimulatorProcess> start_scanner(std::vector<std::string> options = {}) {
    options.push_back(dir_ + "/scanner.txt");
    auto sim = std::make_unique<SimulatorProcess>(options);
    ::setenv("CORVIA_COM5", sim->path().c_str(), 1);
    return sim;
  }
  std::vector<std::string> ir(const std::string& command, bool yes = true) {
    std::vector<std::string> a{command, "--home", dir_, "--products", dir_ + "/products.mdb", "--com", "5", "--corvia",
                               CORVIA_LIBRARY_FILE};
    if (yes) a.push_back("--yes");
    return a;
  }
  std::string dir_;
};

TEST_F(CliTest, BadUsageIsTwoAndNamesTheProblem) {
  Result r = cli({}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("tallimo-cli sync"), std::string::npos);
  r = cli({"read", "--com", "9"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--com takes a port number 1 to 8"), std::string::npos);
  EXPECT_EQ(cli({"frobnicate"}, dir_).status, 2);
  EXPECT_EQ(cli({"post", "--yes"}, dir_).status, 2);
}

TEST_F(CliTest, APortThatWillNotOpenFailsWithTheProgramsMessage) {
  ::setenv("CORVIA_COM5", (dir_ + "/no-such-port").c_str(), 1);
  Result r = cli(ir("read"), dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("[Tallimo] Unable to Open Comm Port 5"), std::string::npos) << r.err;
}

TEST_F(CliTest, WithoutYesAndWithoutATerminalTheInstructionsAreCancelled) {
  auto sim = start_scanner();
  Result r = cli(ir("read", false), dir_);
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("2. On the Scanner, Press 6 followed by the Blue button."), std::string::npos);
  EXPECT_NE(r.out.find("Waiting User Command"), std::string::npos);
}

TEST_F(CliTest, ANightlySynchronisationReadsPostsAndUploads) {
  auto sim = start_scanner();
  Result r = cli(ir("sync"), dir_);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Reading  | Add to Inventory"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Processing - Complete"), std::string::npos);
  EXPECT_NE(r.out.find("sync: 6 file(s) read, 8 record(s)"), std::string::npos) << r.out;
  sim->stop();
  std::ifstream saved(dir_ + "/scanner.txt");
  std::stringstream s;
  s << saved.rdbuf();
  // The scans are gone, the product list (file 5) and its index (file 6) came back.
  EXPECT_EQ(s.str().find("record 0 "), std::string::npos);
  EXPECT_NE(s.str().find("record 5 P000004~"), std::string::npos);
  EXPECT_NE(s.str().find("record 6 P0~"), std::string::npos);
  EXPECT_NE(s.str().find("sync off"), std::string::npos);
}

TEST_F(CliTest, SigtermIsAbort) {
  // Enough scans that the read is still going when the signal comes, each reply held
  // back long enough that a busy machine delivering the signal late cannot let the
  // read run two records past it.
  {
    std::ofstream contents(dir_ + "/scanner.txt", std::ios::trunc);
    for (int k = 0; k < 40; ++k) contents << "record 1 P00000" << k % 5 << "~1~SOLD\n";
  }
  auto sim = start_scanner({"--delay-ms", "250"});
  Result r = cli(ir("read"), dir_, /*term_on_record=*/true);
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("Read from Scanner - Aborted"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Rec: 5 / 40"), std::string::npos) << "stopped at the next record";
}

}  // namespace
}  // namespace tallimo
