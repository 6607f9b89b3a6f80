#include "cli.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <QCoreApplication>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/handheld/handheld_runs.h"
#include "app/ir/corvia_library.h"
#include "app/posting/posting.h"
#include "app/settings.h"

namespace tallimo::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool>* g_abort_flag = nullptr;

extern "C" void on_signal(int) {
  g_interrupted = 1;
  if (g_abort_flag != nullptr) g_abort_flag->store(true);
}

}  // namespace

void install_signal_handlers(Session* session) {
  g_abort_flag = session != nullptr ? &session->abort_flag() : nullptr;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a read of the terminal ends with EINTR
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void CommandLineUi::Display_Status_Message(const std::string& text) {
  if (quiet_) return;
  std::string line = text;
  for (std::size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, " | ");
  std::fprintf(stdout, "%s\n", line.c_str());
}

MessageAnswer CommandLineUi::message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                                         const std::string& title) {
  // Posting's notice of records left over is no failure (exit code 3 tells it).
  if (buttons == MessageButtons::kOk && text.rfind(kNotAllProcessed, 0) != 0) ++reports_shown_;
  if (buttons != MessageButtons::kOkCancel) return ConsoleUserInterface::message_box(text, buttons, icon, title);
  std::string shown = text;
  for (std::size_t p; (p = shown.find("\r\n")) != std::string::npos;) shown.replace(p, 2, "\n  ");
  std::fprintf(stderr, "[%s] %s\n", title.c_str(), shown.c_str());
  if (yes_) {
    std::fprintf(stderr, "  (OK: --yes)\n");
    return MessageAnswer::kOk;
  }
  if (!::isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "  (Cancel: no terminal to ask; give --yes to answer OK)\n");
    return MessageAnswer::kCancel;
  }
  std::fprintf(stderr, "  Enter for OK, c and Enter for Cancel: ");
  std::fflush(stderr);
  char line[64];
  std::clearerr(stdin);
  if (std::fgets(line, sizeof line, stdin) == nullptr || g_interrupted) return MessageAnswer::kCancel;
  return line[0] == '\n' ? MessageAnswer::kOk : MessageAnswer::kCancel;
}

void CommandLineUi::show_preferences() {
  std::fprintf(stderr,
               "tallimo-cli: the products database \"%s\" does not exist; give --products FILE or store the "
               "path in the \"Orvex_Location\" setting\n",
               settings_ != nullptr ? settings_->Orvex_Location.c_str() : "");
}

bool parse_long(const std::string& text, long& out) {
  char* end = nullptr;
  out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && end != text.c_str() && *end == '\0';
}

bool takes_value(const std::string& arg) {
  for (const char* name : {"--home", "--products", "--kinds", "--corvia", "--com", "--baud", "--records-per-commit"}) {
    if (arg == name) return true;
  }
  return false;
}

bool split_run_argument(const char* command, const std::vector<std::string>& args, long& run,
                        std::vector<std::string>& rest) {
  run = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (takes_value(a) && i + 1 < args.size()) {
      rest.push_back(a);
      rest.push_back(args[++i]);
    } else if (a.rfind("--", 0) != 0 && run == 0) {
      if (!parse_long(a, run) || run < 1) {
        std::fprintf(stderr, "tallimo-cli %s: RUN is a run number from 1, not \"%s\"\n", command, a.c_str());
        return false;
      }
    } else {
      rest.push_back(a);
    }
  }
  return true;
}

bool parse_options(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                   CommonOptions& out) {
  auto allows = [&](const std::string& name) { return std::find(allowed.begin(), allowed.end(), name) != allowed.end(); };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::string name = a.rfind("--", 0) == 0 ? a.substr(2) : std::string();
    if (name.empty() || !allows(name)) {
      std::fprintf(stderr, "tallimo-cli: unexpected argument \"%s\"\n", a.c_str());
      return false;
    }
    if (name == "quiet") {
      out.quiet = true;
      continue;
    }
    if (name == "yes") {
      out.yes = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "tallimo-cli: %s needs a value\n", a.c_str());
      return false;
    }
    const std::string& v = args[++i];
    long n = 0;
    if (name == "home") {
      out.home = v;
    } else if (name == "products") {
      out.products = v;
    } else if (name == "kinds") {
      out.kinds = v;
    } else if (name == "corvia") {
      out.corvia = v;
    } else if (name == "com") {
      if (!parse_long(v, n) || n < 1 || n > 8) {
        std::fprintf(stderr, "tallimo-cli: --com takes a port number 1 to 8, not \"%s\"\n", v.c_str());
        return false;
      }
      out.com = static_cast<int>(n);
    } else if (name == "baud") {
      if (!parse_long(v, n) || n < 0 || n > 32767) {
        std::fprintf(stderr,
                     "tallimo-cli: --baud takes the speed index 0 (115200), 1 (38400), 2 (19200) or 3 (9600), not "
                     "\"%s\"\n",
                     v.c_str());
        return false;
      }
      out.baud = static_cast<int>(n);
    } else if (name == "records-per-commit") {
      if (!parse_long(v, n) || n < 1) {
        std::fprintf(stderr, "tallimo-cli: --records-per-commit takes a number from 1, not \"%s\"\n", v.c_str());
        return false;
      }
      out.records_per_commit = n;
    }
  }
  return true;
}

int start_program(const std::vector<std::string>& args, const std::vector<std::string>& allowed, Program& program) {
  CommonOptions& options = program.options;
  if (!parse_options(args, allowed, options)) return kExitUsage;
  program.ui = std::make_unique<CommandLineUi>(options.quiet, options.yes);
  program.session = std::make_unique<Session>(*program.ui, options.home);
  Session& session = *program.session;
  CommandLineUi& ui = *program.ui;
  ui.set_settings(&session.settings());
  install_signal_handlers(&session);
  Load_Settings(session);

  Settings& settings = session.settings();
  if (!options.products.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.products, ec)) {
      std::fprintf(stderr, "tallimo-cli: no products database at \"%s\"\n", options.products.c_str());
      return kExitFailed;
    }
    settings.Orvex_Location = options.products;
  }
  if (options.com > 0) settings.Com_Port = static_cast<int16_t>(options.com - 1);
  if (options.baud >= 0) settings.Baud_Rate = static_cast<int16_t>(options.baud);
  if (!options.corvia.empty()) ir::set_corvia_library_path(options.corvia);
  if (options.records_per_commit > 0)
    session.posting_options().records_per_commit = static_cast<int>(options.records_per_commit);
  if (!options.kinds.empty()) {
    for (int k = 0; k < kKindCount; ++k) ui.set_process_item_state(k, CheckState::kUnchecked);
    ui.set_process_items_all_state(CheckState::kUnchecked);
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = options.kinds.find(',', start);
      const std::string item =
          options.kinds.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      long k = -1;
      if (!parse_long(item, k) || k < 0 || k > 5) {
        std::fprintf(stderr, "tallimo-cli: --kinds takes codes 0 to 5 separated by commas, not \"%s\"\n",
                     options.kinds.c_str());
        return kExitUsage;
      }
      ui.set_process_item_state(static_cast<int>(k), CheckState::kChecked);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  // As the command centre does for a command: the other commands are locked.
  ui.set_command_button_enabled(Find_Command_Button(ui, "&Synchronize"), false);
  return -1;
}

int prepare_infrared_run(const std::vector<std::string>& args, Program& program) {
  const int code = start_program(
      args, {"home", "products", "kinds", "com", "baud", "corvia", "yes", "quiet", "records-per-commit"}, program);
  if (code >= 0) return code;
  if (!Open_Scanner_Data_File(*program.session)) return kExitFailed;
  if (g_interrupted) return kExitCancelled;
  return -1;
}

int finish_infrared_run(const char* command, Program& program, const IrRunSummary& s) {
  Session& session = *program.session;
  Close_Ir_Port(session);
  Close_Orvex_DataBase(session);
  Close_Scanner_Data_File(session);
  install_signal_handlers(nullptr);
  const PostingSummary& post = session.last_posting_summary();
  const std::string name = command;
  if (!program.options.quiet) {
    std::printf("%s: %d file(s) read, %ld record(s)", command, s.files_read, s.records_read);
    if (s.files_spared > 0) std::printf(", %d file(s) left on the scanner", s.files_spared);
    if (s.resumed) std::printf(" (completing an interrupted read)");
    if (s.posted) std::printf("; posted %ld of %ld", post.records_posted, post.records_at_start);
    if (name != "read") std::printf("; sent %ld product(s), %ld index entries", s.products_sent, s.index_entries_sent);
    std::printf("\n");
  }
  if (!s.port_opened || s.errors > 0 || s.write_failed) return kExitFailed;
  if (s.posted && (!post.products_opened || post.errors > 0)) return kExitFailed;
  if (s.cancelled || s.aborted || g_interrupted) return kExitCancelled;
  if (s.files_spared > 0 || s.low_memory || (s.posted && post.records_remaining > 0)) return kExitLeftOver;
  return kExitOk;
}

namespace {

// The end of a Palm or Windows Mobile transfer: the databases closed, the exit code.
int finish_handheld_run(Program& program, bool posting_ran) {
  Session& session = *program.session;
  Close_Orvex_DataBase(session);
  Close_Scanner_Data_File(session);
  install_signal_handlers(nullptr);
  const PostingSummary& post = session.last_posting_summary();
  if (program.ui->reports_shown() > 0) return kExitFailed;
  if (posting_ran && (!post.products_opened || post.errors > 0)) return kExitFailed;
  if (session.abort_requested() || g_interrupted) return kExitCancelled;
  if (posting_ran && post.records_remaining > 0) return kExitLeftOver;
  return kExitOk;
}

}  // namespace

int run_scanner_dispatch(const char* command, const std::vector<std::string>& args, bool full_sync) {
  Program program;
  if (int code = prepare_infrared_run(args, program); code >= 0) return code;
  Session& session = *program.session;
  const std::string kind = session.settings().Scanner;
  if (kind == kScannerOrvexR50) {
    IrRunSummary summary;
    Synchronize_Handheld(session, full_sync, {}, &summary);
    return finish_infrared_run(command, program, summary);
  }
  // The transfers run Qt objects (the forms-runtime control, the Palm transfer's
  // event loop).
  std::unique_ptr<QCoreApplication> app;
  static int argc = 1;
  static char name[] = "tallimo-cli";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) app = std::make_unique<QCoreApplication>(argc, argv);
  HandheldRuns handheld;
  handheld.palm = [](Session& s, bool full) {
    std::fprintf(stderr, "tallimo-cli: waiting for a HotSync from the handheld (Ctrl-C stops)\n");
    handheld::Synchronize_Palm(s, full);
  };
  handheld.windows_mobile = [](Session& s, bool full) { handheld::Synchronize_Windows_Mobile(s, full); };
  session.last_posting_summary() = PostingSummary{};
  if (!Synchronize_Handheld(session, full_sync, handheld)) {
    std::fprintf(stderr, "tallimo-cli: the \"Scanner\" setting \"%s\" names no scanner kind (\"%s\", \"%s\" or \"%s\")\n",
                 kind.c_str(), kScannerOrvexR50, kScannerPalm, kScannerWindowsMobile);
    Close_Scanner_Data_File(session);
    return kExitFailed;
  }
  const PostingSummary& post = session.last_posting_summary();
  const bool posting_ran = post.products_opened || post.completed || post.errors > 0 || post.records_at_start > 0;
  if (!program.options.quiet) {
    std::printf("%s: %s transfer done", command, kind.c_str());
    if (posting_ran) std::printf("; posted %ld of %ld", post.records_posted, post.records_at_start);
    std::printf("\n");
  }
  return finish_handheld_run(program, posting_ran);
}

}  // namespace tallimo::cli
