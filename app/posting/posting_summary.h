// Figures of the latest posting run, for the command line and benchmarks.
#pragma once

namespace tallimo {

struct PostingSummary {
  long records_at_start = 0;  // Scanner_Data rows when the run began
  long records_posted = 0;    // records applied and removed
  long records_remaining = 0; // Scanner_Data rows when the run ended
  long errors = 0;            // failures reported through Error_Routine
  bool completed = false;     // the run reached "Processing - Complete"
  bool products_opened = false;
  bool resumed = false;       // an interrupted run's Compare rows were kept
  double seconds = 0;         // wall time of the run
};

// The summary of the latest run (reset when a run starts).
PostingSummary& Last_Posting_Summary();

}  // namespace tallimo
