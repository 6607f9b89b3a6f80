// The posting run and the kind check boxes.
#include <chrono>
#include <ctime>
#include <optional>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "app/history/journal.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "app/posting/posting.h"
#include "app/posting/posting_internal.h"
#include "app/posting/posting_run.h"
#include "app/posting/posting_options.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/user_interface.h"

namespace tallimo {

using namespace posting;

namespace {

// A run in progress is marked by a row in this table of the scanner
// database, committed with the run's first changes and removed with its
// last. A run that finds the mark was interrupted (killed, power cut): its
// Compare rows are part of the comparison still being built, so they are
// kept instead of emptied, and the new run completes the old one.
constexpr const char* kRunMarkTable = "Posting_Run";

void ensure_run_mark_table(jet::dao::Database& scanner) {
  if (scanner.engine().has_table(kRunMarkTable)) return;
  scanner.execute(std::string("CREATE TABLE [") + kRunMarkTable + "] ([Started] text(255))");
}

long scanner_record_count(jet::dao::Database& scanner) {
  auto rs = scanner.open_recordset("Scanner_Data");
  const long n = static_cast<long>(rs->record_count());
  rs->close();
  return n;
}

std::string now_text() {
  const auto t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char buf[32];
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

// The kinds ticked, as File_Type codes in posting order ("4,5,0,1,3,2").
std::string ticked_kinds(UserInterface& ui) {
  std::string kinds;
  for (int16_t kind : kPostingOrder) {
    if (!kind_selected(ui, kind)) continue;
    if (!kinds.empty()) kinds += ",";
    kinds += std::to_string(kind);
  }
  return kinds;
}

// Opens the run: empties Compare (unless an interrupted run left its mark)
// and sets the mark, committed on their own before any record is posted,
// together with the run's row in the posting history (an interrupted run's
// row is continued).
void begin_run(Session& session, jet::dao::Database& scanner, PostingRun& run, PostingSummary& summary,
               history::Journal* journal, std::optional<history::RunJournal>& run_journal) {
  ensure_run_mark_table(scanner);
  if (journal != nullptr) run.set_journal(nullptr, &journal->file());
  run.start_record();
  auto mark = scanner.open_recordset(kRunMarkTable);
  summary.resumed = !mark->eof();
  if (!summary.resumed) {
    scanner.execute(std::string("Delete * ") + kCrLf + "from Compare" + kCrLf);
    mark->add_new();
    mark->set_field("Started", jet::Value(now_text()));
    mark->update();
  }
  mark->close();
  if (journal != nullptr) {
    long id = summary.resumed ? journal->unfinished_run(history::kRunPost) : 0;
    if (id == 0) {
      id = journal->add_run(history::kRunPost, ticked_kinds(session.ui()), session.settings().Orvex_Location);
    }
    run_journal.emplace(*journal, id, journal->next_record_no(id));
    run.set_journal(&*run_journal, &journal->file());
  }
  run.commit();
}

// Closes the run: removes the mark with the run's last records, and ends the
// run's row in the posting history.
void end_run(Session& session, jet::dao::Database& scanner, PostingRun& run, history::Journal* journal,
             std::optional<history::RunJournal>& run_journal) {
  run.start_record();
  scanner.execute(std::string("Delete * from [") + kRunMarkTable + "]");
  if (journal != nullptr) {
    journal->finish_run(run_journal->run(), run_journal->records_total(), ticked_kinds(session.ui()));
  }
  run.commit();
}

// The run proper: every ticked kind in the posting order, between the run's
// opening and closing commits.
void post_all_kinds(Session& session, jet::dao::Database& scanner, PostingSummary& summary) {
  const PostingOptions& options = session.posting_options();
  // The posting history joins every commit of the run.
  std::unique_ptr<history::Journal> journal;
  if (options.keep_history) journal = history::Journal::open(session);
  std::optional<history::RunJournal> run_journal;
  {
    PostingRun run(session, scanner, *session.products_database(), options.records_per_commit,
                   options.seconds_per_commit);
    begin_run(session, scanner, run, summary, journal.get(), run_journal);
    for (int16_t kind : kPostingOrder) {
      if (!session.abort_requested()) Process_Post_Individual_Item(session, kind, scanner);
    }
    run.commit();
    end_run(session, scanner, run, journal.get(), run_journal);
  }
  if (journal) {
    summary.history_run = run_journal->run();
    journal->close();
  }
}

// Runs older than the setting leave the posting history after a run; a
// failure there is reported but takes nothing from the run.
void prune_history(Session& session) {
  try {
    history::prune_journal(session);
  } catch (const std::exception& e) {
    Error_Routine(session, std::string("pruning the posting history: ") + e.what(), "Process_Post");
  }
}

// Tells the user when records remain in Scanner_Data (pointing to the
// advanced screen, where they are listed, when the window is not already
// showing it).
void tell_what_remains(UserInterface& ui, jet::dao::Database& scanner) {
  auto rs = scanner.open_recordset(std::string("Select * ") + kCrLf + "from Scanner_Data" + kCrLf);
  if (!rs->eof()) {
    std::string text = std::string(kNotAllProcessed) + kCrLf;
    if (ui.command_button_enabled(Find_Command_Button(ui, "&Synchronize"))) text += kPressAdvanced;
    message(ui, text);
  }
  rs->close();
}

}  // namespace

void Process_Post(Session& session) {
  UserInterface& ui = session.ui();
  PostingSummary& summary = session.last_posting_summary();
  summary = PostingSummary{};
  const auto started = std::chrono::steady_clock::now();

  const bool opened = Open_Orvex_DataBase(session);
  if (session.program_ended()) return;
  summary.products_opened = opened;

  std::unique_ptr<jet::dao::Database> own_scanner;
  try {
    if (opened) {
      // One read-write handle per file: the program's own scanner handle
      // when it is open, else one for this run.
      jet::dao::Database* scanner = session.scanner_database();
      if (scanner == nullptr || !scanner->is_open()) {
        own_scanner = session.workspace().open_database(Scanner_Database_Path(session));
        scanner = own_scanner.get();
      }
      summary.records_at_start = scanner_record_count(*scanner);
      post_all_kinds(session, *scanner, summary);
      tell_what_remains(ui, *scanner);
      summary.records_remaining = scanner_record_count(*scanner);
      summary.records_posted = summary.records_at_start - summary.records_remaining;
    }
    ui.refresh_grid();
    Close_Orvex_DataBase(session);
    if (own_scanner) own_scanner->close();
    own_scanner.reset();
  } catch (const std::exception& e) {
    // Leave no file open behind a failed run (the writer's lock would keep
    // the next operation out).
    Close_Orvex_DataBase(session);
    own_scanner.reset();
    report_error(session, e.what(), "Process_Post");
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return;
  }
  if (opened) prune_history(session);
  Update_Comparision_Menu(session);
  if (session.settings().Auto_Print && ui.comparison_menu_enabled()) ui.Mnu_Comparison_Click();
  ui.Display_Status_Message(kProcessingComplete);
  summary.completed = true;
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void Update_Process_Post_Button(Session& session) {
  UserInterface& ui = session.ui();
  const int button = Find_Command_Button(ui, "&Process/Post");
  ui.set_command_button_enabled(button, true);
  if (ui.process_items_all_state() != CheckState::kUnchecked) return;
  for (int16_t index = 0; index <= 5; ++index) {
    if (kind_selected(ui, index)) return;
  }
  ui.set_command_button_enabled(button, false);
}

void Chk_Process_Items_All_Click(Session& session) {
  UserInterface& ui = session.ui();
  const bool all = ui.process_items_all_state() == CheckState::kChecked;
  for (int16_t index = 0; index <= 5; ++index) {
    ui.set_process_item_state(index, all ? CheckState::kChecked : CheckState::kUnchecked);
    ui.set_process_item_enabled(index, !all);
  }
  Update_Process_Post_Button(session);
}

void Chk_Process_Items_Click(Session& session, int16_t) { Update_Process_Post_Button(session); }

}  // namespace tallimo
