// tallimo-post: the posting run without a window.
//
//   tallimo-post [--home DIR] [--products FILE] [--kinds 0,1,...] [--records-per-commit N] [--quiet]
//   tallimo-post demo DIR
//   tallimo-post generate DIR PRODUCTS SCANS [SEED]
//
// Posting prints the status lines on stdout and the message boxes on stderr
// ("[Tallimo] ..."). Exit status: 0 every record posted; 3 the run completed
// but records remain in Scanner_Data; 1 a failure (an error was reported,
// the products database could not be located or opened); 2 bad usage.
// Ctrl-C (SIGINT) or SIGTERM asks the run to stop after the record in hand.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "app/posting/posting.h"
#include "app/posting/posting_options.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/user_interface.h"

namespace {

// The running session's abort flag, for the signal handler (a lock-free atomic
// may be stored to from one).
std::atomic<bool>* g_abort_flag = nullptr;
extern "C" void on_signal(int) {
  if (g_abort_flag != nullptr) g_abort_flag->store(true);
}

class CommandLineUi : public tallimo::ConsoleUserInterface {
 public:
  CommandLineUi(bool quiet, const tallimo::Settings& settings) : quiet_(quiet), settings_(settings) {}
  void Display_Status_Message(const std::string& text) override {
    if (quiet_) return;
    std::string line = text;
    for (std::size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, " | ");
    std::fprintf(stdout, "%s\n", line.c_str());
  }
  void show_preferences() override {
    std::fprintf(stderr,
                 "tallimo-post: the products database \"%s\" does not exist; give --products FILE or store the "
                 "path in the \"Orvex_Location\" setting\n",
                 settings_.Orvex_Location.c_str());
  }

 private:
  bool quiet_;
  const tallimo::Settings& settings_;
};

int usage() {
  std::fprintf(stderr,
               "usage: tallimo-post [--home DIR] [--products FILE] [--kinds 0,1,2,3,4,5] [--records-per-commit N] "
               "[--quiet]\n"
               "       tallimo-post demo DIR\n"
               "       tallimo-post generate DIR PRODUCTS SCANS [SEED]\n");
  return 2;
}

bool parse_int(const char* text, long& out) {
  char* end = nullptr;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0';
}

int generate(const std::vector<std::string>& args) {
  long products = 0, scans = 0, seed = 1;
  if (args.size() < 3 || !parse_int(args[1].c_str(), products) || !parse_int(args[2].c_str(), scans) ||
      products < 1 || scans < 0 || (args.size() > 3 && !parse_int(args[3].c_str(), seed))) {
    return usage();
  }
  const std::string dir = args[0];
  std::filesystem::create_directories(dir);
  const std::string products_path = dir + "/products.mdb";
  const std::string scanner_path = dir + "/" + tallimo::kScannerDatabaseName;
  for (const std::string& p : {products_path, scanner_path}) std::filesystem::remove(p);
  auto db = tallimo::demo::create_products_database(products_path);
  tallimo::demo::add_products(*db, tallimo::demo::generated_catalogue(static_cast<int>(products), seed));
  db->close();
  auto scanner = tallimo::demo::create_scanner_database(scanner_path);
  tallimo::demo::add_scans(*scanner, tallimo::demo::generated_scans(static_cast<int>(scans), static_cast<int>(products),
                                                                     static_cast<uint32_t>(seed)));
  scanner->close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Status lines and messages (stderr) appear in the order they were given.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    if (!args.empty() && args[0] == "demo") {
      if (args.size() != 2) return usage();
      tallimo::demo::create_demo_shop(args[1]);
      std::printf("demo shop in %s: products.mdb (password protected) and %s\n", args[1].c_str(),
                  tallimo::kScannerDatabaseName);
      return 0;
    }
    if (!args.empty() && args[0] == "generate") return generate({args.begin() + 1, args.end()});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tallimo-post: %s\n", e.what());
    return 1;
  }

  bool quiet = false;
  std::string home;
  int records_per_commit = 0;
  std::string products;
  std::string kinds;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--quiet") {
      quiet = true;
    } else if (a == "--home" && value(v)) {
      home = v;
    } else if (a == "--products" && value(v)) {
      products = v;
    } else if (a == "--kinds" && value(v)) {
      kinds = v;
    } else if (a == "--records-per-commit" && value(v)) {
      long n = 0;
      if (!parse_int(v.c_str(), n) || n < 1) return usage();
      records_per_commit = static_cast<int>(n);
    } else {
      return usage();
    }
  }

  tallimo::ConsoleUserInterface start_ui(quiet);
  tallimo::Session session(start_ui, home);
  CommandLineUi ui(quiet, session.settings());
  session.set_ui(ui);
  if (records_per_commit > 0) session.posting_options().records_per_commit = records_per_commit;
  static_assert(std::atomic<bool>::is_always_lock_free);
  g_abort_flag = &session.abort_flag();
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);

  tallimo::Load_Settings(session);
  if (!products.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(products, ec)) {
      std::fprintf(stderr, "tallimo-post: no products database at \"%s\"\n", products.c_str());
      return 1;
    }
    session.settings().Orvex_Location = products;
  }
  if (!kinds.empty()) {
    for (int k = 0; k < 6; ++k) ui.set_process_item_state(k, tallimo::CheckState::kUnchecked);
    ui.set_process_items_all_state(tallimo::CheckState::kUnchecked);
    std::size_t start = 0;
    while (start <= kinds.size()) {
      const std::size_t comma = kinds.find(',', start);
      const std::string item = kinds.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      long k = -1;
      if (!parse_int(item.c_str(), k) || k < 0 || k > 5) {
        std::fprintf(stderr, "tallimo-post: --kinds takes codes 0 to 5 separated by commas, not \"%s\"\n",
                     kinds.c_str());
        return 2;
      }
      ui.set_process_item_state(static_cast<int>(k), tallimo::CheckState::kChecked);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }

  if (!tallimo::Open_Scanner_Data_File(session)) return 1;
  // As the command centre does for a command: the other commands are locked.
  ui.set_command_button_enabled(tallimo::Find_Command_Button(ui, "&Synchronize"), false);
  tallimo::Process_Post(session);
  tallimo::Close_Scanner_Data_File(session);
  g_abort_flag = nullptr;

  const tallimo::PostingSummary& s = session.last_posting_summary();
  if (session.program_ended() || !s.products_opened || !s.completed || s.errors > 0) return 1;
  if (!quiet) {
    std::printf("posted %ld of %ld records in %.3f s%s\n", s.records_posted, s.records_at_start, s.seconds,
                s.resumed ? " (completing an interrupted run)" : "");
  }
  return s.records_remaining > 0 ? 3 : 0;
}
