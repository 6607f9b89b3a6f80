// tallimo-cli: every run of the program without a window. Shared parts of the
// subcommands: the command-line user interface, the common options, exit codes.
//
// A subcommand is one function `int run_<name>(const std::vector<std::string>& args)`
// in its own file, listed in main.cc's table with its one-line usage.
#pragma once

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "app/ir/ir_runs.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo::cli {

// Exit codes of every subcommand.
inline constexpr int kExitOk = 0;         // the run completed and left nothing to do
inline constexpr int kExitFailed = 1;     // an error was reported, or a file or port could not be opened
inline constexpr int kExitUsage = 2;      // bad command line
inline constexpr int kExitLeftOver = 3;   // completed, but something remains (records left in
                                          // Scanner_Data, files left on the scanner, products
                                          // that did not fit on the scanner)
inline constexpr int kExitCancelled = 4;  // Cancel in the instructions box, Ctrl-C or SIGTERM

// Set by SIGINT and SIGTERM, which also set the running session's abort flag: the
// "&Abort" button of the command line.
extern volatile std::sig_atomic_t g_interrupted;
// Installs the handlers (without restarting interrupted reads, so a pending
// question on the terminal is answered Cancel). `session` (may be null) gets its
// abort flag set by them.
void install_signal_handlers(Session* session);

// Status lines on stdout (CR LF shown as " | "), message boxes on stderr as
// "[Tallimo] text". The instructions box (OK / Cancel) is answered OK by --yes,
// otherwise asked on the terminal (Enter = OK, anything else or end of input = Cancel).
class CommandLineUi : public ConsoleUserInterface {
 public:
  CommandLineUi(bool quiet, bool yes) : ConsoleUserInterface(quiet), quiet_(quiet), yes_(yes) {}
  void Display_Status_Message(const std::string& text) override;
  MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            const std::string& title) override;
  void show_preferences() override;
  // The settings whose products path show_preferences names.
  void set_settings(const Settings* settings) { settings_ = settings; }
  // Message boxes with an OK button only shown so far, posting's notice of records
  // left over aside: in the handheld transfers each reports a failure
  // (Error_Routine, a failed copy or conversion).
  int reports_shown() const { return reports_shown_; }

 private:
  bool quiet_;
  bool yes_;
  const Settings* settings_ = nullptr;
  int reports_shown_ = 0;
};

// Options shared by the subcommands that run the program's procedures.
struct CommonOptions {
  bool quiet = false;
  bool yes = false;
  std::string home;      // --home DIR: the application folder
  std::string products;  // --products FILE: the products database for this run
  std::string kinds;     // --kinds 0,1,...: the kind check boxes
  int com = 0;           // --com N: COM1..COM8 for this run (0: the setting)
  int baud = -1;         // --baud INDEX: the "Baud_Rate" index for this run (-1: the setting)
  std::string corvia;    // --corvia PATH: the Corvia library (file or folder)
  long records_per_commit = 0;
};

// Parses the options in `args` that `allowed` names ("quiet", "yes", "home",
// "products", "kinds", "com", "baud", "corvia", "records-per-commit"). Prints the
// problem and returns false on anything else.
bool parse_options(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                   CommonOptions& out);

// One subcommand's program: its user interface and its session (for the folder
// of --home), with the settings loaded and the options applied.
struct Program {
  CommonOptions options;
  std::unique_ptr<CommandLineUi> ui;
  std::unique_ptr<Session> session;
};
// Parses `args` (the options `allowed` names), creates the program and applies the
// options after the settings are loaded: products path, port, line speed, library
// path, kind boxes. Returns an exit code, or -1 to go on.
int start_program(const std::vector<std::string>& args, const std::vector<std::string>& allowed, Program& program);

bool parse_long(const std::string& text, long& out);
// Whether option `arg` ("--home") is followed by a value.
bool takes_value(const std::string& arg);
// Splits the arguments of `command` (history, undo) into its RUN (the first argument
// that is neither an option nor an option's value; 0 when there is none) and the
// rest. False, after a usage message, when RUN is not a run number from 1.
bool split_run_argument(const char* command, const std::vector<std::string>& args, long& run,
                        std::vector<std::string>& rest);

// The start of an infrared run: start_program with the options of read, upload and
// sync, then the scanner database opened. Returns an exit code, or -1 to go on.
int prepare_infrared_run(const std::vector<std::string>& args, Program& program);
// The end of one: closes the databases and the port, prints the summary line, and
// gives the exit code the run's summary calls for.
int finish_infrared_run(const char* command, Program& program, const IrRunSummary& summary);

// The scanner-kind dispatch of read and sync, as the window's: "Orvex R50 Scanner"
// runs the infrared run, "Palm Barcode Scanner" waits for a HotSync from the handheld
// (hhsim, or a cradle's conduit) and "Windows Mobile Scanner" transfers through the
// device folder (setting "Handheld_Folder"). Returns an exit code.
int run_scanner_dispatch(const char* command, const std::vector<std::string>& args, bool full_sync);

// Subcommands.
int run_post(const std::vector<std::string>& args);
int run_read(const std::vector<std::string>& args);
int run_upload(const std::vector<std::string>& args);
int run_sync(const std::vector<std::string>& args);
int run_report(const std::vector<std::string>& args);
int run_demo(const std::vector<std::string>& args);
int run_generate(const std::vector<std::string>& args);
int run_serve(const std::vector<std::string>& args);
int run_history(const std::vector<std::string>& args);
int run_undo(const std::vector<std::string>& args);

}  // namespace tallimo::cli
