// tallimo-cli history: the posting history. Without a run, one line per run
// (newest first); with one, its records and, per product, what changed.
#include <cstdio>
#include <filesystem>
#include <map>

#include "app/history/journal.h"
#include "cli.h"

namespace tallimo::cli {

namespace {

void list_runs(history::Journal& journal) {
  std::printf("%-6s %-5s %-19s %-19s %7s  %-22s %s\n", "Run", "Kind", "Started", "Ended", "Records", "State",
              "Computer / user");
  for (const auto& r : journal.runs()) {
    std::printf("%-6ld %-5s %-19s %-19s %7ld  %-22s %s / %s\n", r.id, r.kind.c_str(), r.started.c_str(),
                r.ended.c_str(), r.records, history::run_state(r).c_str(), r.computer.c_str(), r.user.c_str());
  }
}

void show_run(history::Journal& journal, const history::RunInfo& r) {
  std::printf("Run %ld (%s): %s\n", r.id, r.kind.c_str(), history::run_state(r).c_str());
  std::printf("  started %s, ended %s, by %s on %s\n", r.started.c_str(),
              r.finished() ? r.ended.c_str() : "(not finished)", r.user.c_str(), r.computer.c_str());
  std::printf("  kinds: %s\n  products database: %s\n  records: %ld\n", history::kinds_labels(r.kinds).c_str(),
              r.products_file.c_str(), r.records);
  const auto records = journal.records(r.id);
  std::printf("\nRecords:\n");
  for (const auto& rec : records) {
    std::printf("  %5ld  %-18s  %-20s  Qty %s%s\n", rec.record_no, rec.item_number().c_str(),
                file_type_label(rec.file_type()).c_str(), history::shown(history::journal_value(rec.scanner[1])).c_str(),
                rec.source_record != 0 ? (" (record " + std::to_string(rec.source_record) + " of the run undone)").c_str()
                                       : "");
  }
  // Per product, in the order first changed.
  std::vector<std::string> order;
  std::map<std::string, std::vector<std::pair<long, const history::ChangeInfo*>>> by_product;
  for (const auto& rec : records) {
    for (const auto& c : rec.changes) {
      if (by_product.find(c.product_code) == by_product.end()) order.push_back(c.product_code);
      by_product[c.product_code].emplace_back(rec.record_no, &c);
    }
  }
  std::printf("\nChanges by product:\n");
  for (const auto& code : order) {
    std::printf("  %s\n", code.c_str());
    for (const auto& [record_no, c] : by_product[code]) {
      std::printf("    record %-5ld %-9s %-16s %s -> %s", record_no, c->kind.c_str(), c->column.c_str(),
                  history::shown(c->old_value).c_str(), history::shown(c->new_value).c_str());
      if (c->kind == history::kChangeQuantity || c->kind == history::kChangePackage) std::printf(" (%+g)", c->delta);
      if (c->units != 0) std::printf(", %g units", c->units);
      std::printf("\n");
    }
  }
}

}  // namespace

int run_history(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  long run = 0;
  if (!split_run_argument("history", args, run, rest)) return kExitUsage;
  Program program;
  if (int code = start_program(rest, {"home", "quiet"}, program); code >= 0) return code;
  Session& session = *program.session;
  if (!std::filesystem::exists(history::journal_path(session))) {
    std::fprintf(stderr, "tallimo-cli history: no posting history at %s (nothing posted yet)\n",
                 history::journal_path(session).c_str());
    return run == 0 ? kExitOk : kExitFailed;
  }
  auto journal = history::Journal::open(session);
  if (run == 0) {
    list_runs(*journal);
    return kExitOk;
  }
  const auto info = journal->run(run);
  if (!info) {
    std::fprintf(stderr, "tallimo-cli history: run %ld is not in the posting history %s\n", run,
                 journal->path().c_str());
    return kExitFailed;
  }
  show_run(*journal, *info);
  return kExitOk;
}

}  // namespace tallimo::cli
