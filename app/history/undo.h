// Undo of a posting run, from its journal (app/history/journal.h).
//
// The run's records are taken back newest first, each record's changes in
// reverse order:
//   - quantities ("Add to Inventory", "Subtract Inventory" and the bulk
//     packages a subtraction broke open) by their delta, so what happened to
//     the stock since (sales) is kept: stock 10, +5 posted, 3 sold since
//     -> 12; undo -> 7. Where the product still holds exactly what the run
//     wrote, the old value comes back as it was (an empty stock stays empty).
//   - replaced stocks ("Replace Inventory") and edited fields ("Edit
//     Products") go back only where the product still holds what the run
//     wrote; otherwise they are conflicts, listed and left alone.
//   - products the run inserted ("Add New Item", "Edit Products" of an
//     unknown code) are removed only when every column still holds what the
//     run wrote (after the run's own later changes to them were taken back);
//     otherwise they are conflicts and stay.
//   - a change whose product is gone (deleted since) is a conflict.
//   - every record returns to Scanner_Data as it was before it was posted,
//     with its kind, so it can be corrected and posted again. Compare is left
//     as it is: it holds the comparison of the latest posting run.
//
// The undo is a run of its own in the journal (Run_Kind "Undo", Undoes_Run),
// with what it changed, the conflicts it left and the records it returned;
// the undone run's Undone_By names it. Its commits are groups over the three
// files (scanner, products, journal): a group's product changes, returned
// records and journal rows reach the files together, so an undo killed at
// any moment and started again takes back every record exactly once (the
// unfinished undo is continued). An undo that has finished cannot be applied
// again.
#pragma once

#include <string>
#include <vector>

#include "app/history/journal.h"

namespace tallimo {
class Session;
}

namespace tallimo::history {

struct UndoConflict {
  long record_no = 0;
  std::string product_code;
  std::string column;     // "*" for a whole new item
  JournalValue run_wrote;  // what the run had written
  JournalValue now;        // what the product holds now
  std::string reason;      // for the user
};

struct UndoSummary {
  long run = 0;             // the posting run
  long undo_run = 0;        // the undo's own run (0 for a preview)
  long records = 0;         // records returned to Scanner_Data
  long quantities = 0;      // stocks taken back by their delta (bulk packages included)
  long packages = 0;        // of which bulk package stocks
  long fields = 0;          // fields and replaced stocks restored
  long new_items_removed = 0;
  std::vector<UndoConflict> conflicts;
  bool resumed = false;     // an interrupted undo was continued
  bool completed = false;   // every record was taken back
  double seconds = 0;
};

struct UndoOptions {
  // false: a preview; everything is worked out in one transaction that is
  // rolled back, so the figures and conflicts are those the undo would
  // give now, and nothing changes.
  bool apply = true;
  // Groups: each durable commit over the three files costs tens of
  // milliseconds of flushes, so an undo (a rare, modal command whose window
  // only shows progress) commits every half second, not every tenth.
  int records_per_commit = 5000;
  double seconds_per_commit = 0.5;
};

// Undoes posting run `run` of the session's journal on the session's
// products database (opened and closed here, as a posting run does) and
// scanner database. Throws jet::Error: kNotFound for a run the journal does
// not hold; kInvalidArgument for a run that is an undo, that did not finish
// (post again to complete it), that has been undone already, or that wrote
// to another products database than the one set now. A failure while
// undoing rolls back the group in hand and is thrown; what was committed
// stays, and running the undo again continues it. The abort flag stops it
// after the record in hand (completed false; run again to continue).
UndoSummary Undo_Run(Session& session, long run, const UndoOptions& options = {});

// One line per conflict, for messages and the command line.
std::string describe(const UndoConflict& conflict);
// "12 records, 30 stock changes (4 bulk packages), 2 fields, 1 new item; 1 conflict".
std::string describe_counts(const UndoSummary& summary);

}  // namespace tallimo::history
