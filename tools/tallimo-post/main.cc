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
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "application_folder.h"
#include "data/demo_shop.h"
#include "data/scanner_database.h"
#include "jet/dao.h"
#include "posting/posting.h"
#include "posting/posting_summary.h"
#include "settings.h"
#include "user_interface.h"

namespace {

volatile std::sig_atomic_t g_abort = 0;
extern "C" void on_signal(int) { g_abort = 1; }

class CommandLineUi : public tallimo::ConsoleUserInterface {
 public:
  explicit CommandLineUi(bool quiet) : quiet_(quiet) {}
  void Display_Status_Message(const std::string& text) override {
    if (quiet_) return;
    std::string line = text;
    for (std::size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, " | ");
    std::fprintf(stdout, "%s\n", line.c_str());
  }
  bool abort_requested() const override { return g_abort != 0 || tallimo::ConsoleUserInterface::abort_requested(); }
  void show_preferences() override {
    std::fprintf(stderr,
                 "tallimo-post: the products database \"%s\" does not exist; give --products FILE or store the "
                 "path in the \"Orvex_Location\" setting\n",
                 tallimo::App_Settings().Orvex_Location.c_str());
  }

 private:
  bool quiet_;
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
      tallimo::set_application_folder(v);
    } else if (a == "--products" && value(v)) {
      products = v;
    } else if (a == "--kinds" && value(v)) {
      kinds = v;
    } else if (a == "--records-per-commit" && value(v)) {
      long n = 0;
      if (!parse_int(v.c_str(), n) || n < 1) return usage();
      tallimo::Posting_Options().records_per_commit = static_cast<int>(n);
    } else {
      return usage();
    }
  }

  CommandLineUi ui(quiet);
  tallimo::set_app_ui(&ui);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);

  tallimo::Load_Settings();
  if (!products.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(products, ec)) {
      std::fprintf(stderr, "tallimo-post: no products database at \"%s\"\n", products.c_str());
      return 1;
    }
    tallimo::App_Settings().Orvex_Location = products;
  }
  if (!kinds.empty()) {
    for (int k = 0; k < 6; ++k) ui.set_process_item_value(k, 0);
    ui.set_process_items_all_value(0);
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
      ui.set_process_item_value(static_cast<int>(k), 1);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }

  if (!tallimo::Open_Scanner_Data_File()) return 1;
  // As the command centre does for a command: the other commands are locked.
  ui.set_command_button_enabled(ui.Find_Command_Button("&Synchronize"), false);
  ui.set_abort(false);
  tallimo::Process_Post();
  tallimo::Close_Scanner_Data_File();

  const tallimo::PostingSummary& s = tallimo::Last_Posting_Summary();
  if (ui.program_ended() || !s.products_opened || !s.completed || s.errors > 0) return 1;
  if (!quiet) {
    std::printf("posted %ld of %ld records in %.3f s%s\n", s.records_posted, s.records_at_start, s.seconds,
                s.resumed ? " (completing an interrupted run)" : "");
  }
  return s.records_remaining > 0 ? 3 : 0;
}
