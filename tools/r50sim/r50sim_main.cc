// r50sim: serves a simulated infrared cradle and scanner on a pseudo-terminal.
//
// Prints the terminal's path on the first line of standard output, then serves
// until SIGINT or SIGTERM (or, with --exit-on-end, until the scanner's
// synchronisation mode ends), saving the contents file on the way out. SIGUSR1
// puts the scanner back into synchronisation mode (the user pressing 6 and the
// blue button).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "simulator.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_resume = 0;

void on_stop(int) { g_stop = 1; }
void on_resume(int) { g_resume = 1; }

const char kUsage[] =
    "usage: r50sim [options] [CONTENTS_FILE]\n"
    "  CONTENTS_FILE        scanner contents, loaded at start when it exists and saved\n"
    "                       when synchronisation mode ends and on exit\n"
    "  --ir-speed BPS       speed the transceiver listens at first (default 9600)\n"
    "  --ignore-probes N    leave the first N probes unanswered (-1: all)\n"
    "  --mute               the scanner never answers\n"
    "  --delay-ms MS        hold every reply back MS milliseconds\n"
    "  --split-ms MS        send every reply in two chunks MS milliseconds apart\n"
    "  --drop-every N       lose every N-th reply\n"
    "  --garble-every N     garble every N-th reply\n"
    "  --pace               hold replies back for their wire time at the port's speed\n"
    "  --memory BYTES       scanner memory (default 1048576)\n"
    "  --link PATH          also make PATH a symbolic link to the terminal\n"
    "  --exit-on-end        exit when the scanner's synchronisation mode ends\n";

int number(const char* option, const char* text) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') {
    std::fprintf(stderr, "r50sim: %s needs a number, not '%s'\n", option, text);
    std::exit(2);
  }
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  r50sim::Options options;
  std::string link;
  bool exit_on_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "r50sim: %s needs a value\n%s", arg.c_str(), kUsage);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--ir-speed") options.transceiver_speed = number("--ir-speed", value());
    else if (arg == "--ignore-probes") options.ignore_probes = number("--ignore-probes", value());
    else if (arg == "--mute") options.mute = true;
    else if (arg == "--delay-ms") options.delay_ms = number("--delay-ms", value());
    else if (arg == "--split-ms") options.split_ms = number("--split-ms", value());
    else if (arg == "--drop-every") options.drop_every = number("--drop-every", value());
    else if (arg == "--garble-every") options.garble_every = number("--garble-every", value());
    else if (arg == "--pace") options.pace_line = true;
    else if (arg == "--memory") options.memory_total = number("--memory", value());
    else if (arg == "--link") link = value();
    else if (arg == "--exit-on-end") exit_on_end = true;
    else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "r50sim: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    } else {
      options.file = arg;
    }
  }

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = on_resume;
  sigaction(SIGUSR1, &sa, nullptr);

  try {
    r50sim::Simulator simulator(options);
    simulator.start();
    if (!link.empty()) {
      ::unlink(link.c_str());
      if (::symlink(simulator.slave_path().c_str(), link.c_str()) != 0)
        std::fprintf(stderr, "r50sim: cannot link %s\n", link.c_str());
    }
    std::printf("%s\n", simulator.slave_path().c_str());
    std::fflush(stdout);
    while (!g_stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (g_resume) {
        g_resume = 0;
        simulator.with_scanner([](r50sim::Scanner& s) { s.set_sync_mode(true); });
      }
      if (exit_on_end) {
        bool ended = false;
        simulator.with_scanner([&](r50sim::Scanner& s) { ended = !s.sync_mode(); });
        if (ended) break;
      }
    }
    simulator.stop();
    if (!link.empty()) ::unlink(link.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
