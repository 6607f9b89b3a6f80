// How a posting run commits, and the figures of the latest run. Both belong
// to the Session (app/session.h).
#pragma once

namespace tallimo {

struct PostingOptions {
  // Records whose changes are committed together. 1 commits every record on
  // its own; larger groups are faster (each durable commit costs a few
  // milliseconds of journal writes and flushes) and lose nothing on a crash:
  // the whole group is rolled back, effects and removals alike, and posted
  // by the next run.
  int records_per_commit = 5000;
  // A group is also committed once it is this old, so a slow run still
  // makes durable progress - and the window, which gets events only between
  // groups, stays responsive.
  double seconds_per_commit = 0.1;
  // Every run writes the posting history (app/history/journal.h) unless
  // this is cleared; the history benchmark measures a run without it.
  bool keep_history = true;
};

// Figures of the latest posting run, for the command line and benchmarks.
struct PostingSummary {
  long records_at_start = 0;   // Scanner_Data rows when the run began
  long records_posted = 0;     // records applied and removed
  long records_remaining = 0;  // Scanner_Data rows when the run ended
  long errors = 0;             // failures reported through Error_Routine
  bool completed = false;      // the run reached "Processing - Complete"
  bool products_opened = false;
  bool resumed = false;        // an interrupted run's Compare rows were kept
  double seconds = 0;          // wall time of the run
  long history_run = 0;        // the run's Run_ID in the posting history
};

}  // namespace tallimo
