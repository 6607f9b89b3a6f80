// The infrared runs end to end, beside the line's limit measured in the same run.
//
//   upload: a shop of P products (default 100,000) staged and sent to the simulated
//           scanner at 115200 bit/s, replies paced at wire time. Figures: the staging
//           (PRODUCT1 copied into Scanner_Data, one statement per product, one commit;
//           the median of five passes) against its 1.5 s goal and against the engine's
//           bulk load of the same rows in the same run, and the wire use while products and index go out:
//           bits on the line (frames and replies, 10 bits a byte) per second over
//           115200, the most a half-duplex exchange can reach.
//   read:   S scans (default 10,000) in files 0 to 4, read by the read run. Wire use
//           from the first record frame to the last file's deletion, commits included.
//
// Usage: ir_runs_bench [--staging-only] [PRODUCTS [SCANS]]
//   --staging-only: the staging passes and their peer alone (no read, no upload
//   run), for profiling the staging.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "app/data/demo_shop.h"
#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/ir/corvia_library.h"
#include "app/ir/ir_runs.h"
#include "app/null_conversions.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/table.h"
#include "simulator.h"

namespace {

using bench::Clock;
using bench::cpu_seconds;

constexpr double kLine = 115200.0;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Headless, answers OK, and stays quiet.
class BenchUi : public tallimo::ConsoleUserInterface {
 public:
  BenchUi() : ConsoleUserInterface(true) {}
  tallimo::MessageAnswer message_box(const std::string& text, tallimo::MessageButtons, tallimo::MessageIcon,
                                     const std::string&) override {
    if (text != tallimo::Scanner_Instructions()) std::fprintf(stderr, "  message: %s\n", text.c_str());
    return tallimo::MessageAnswer::kOk;
  }
};

// Wire use between the first event whose bytes start with `first` and the last one
// starting with `last` (frames and replies in between, both directions).
struct Wire {
  double seconds = 0;
  long bytes = 0;
  double use() const { return seconds > 0 ? bytes * 10.0 / seconds / kLine : 0; }
};

// Where the time between a reply on the line and the next frame went: the client's
// own time per exchange, and the pauses longer than 20 ms (database commits).
void print_client_time(const std::vector<r50sim::Event>& events) {
  double small = 0, large = 0;
  long exchanges = 0, pauses = 0;
  for (size_t i = 1; i < events.size(); ++i) {
    if (events[i].kind != r50sim::Event::kFrame) continue;
    size_t r = i;
    while (r > 0 && events[r - 1].kind != r50sim::Event::kReply) --r;
    if (r == 0) continue;
    const auto& reply = events[r - 1];
    size_t f = r - 1;
    while (f > 0 && events[f].kind != r50sim::Event::kFrame) --f;
    const double wire = (static_cast<double>(events[f].bytes.size() + reply.bytes.size()) * 10.0) / kLine;
    const double gap = seconds(reply.at, events[i].at) - wire;
    if (gap > 0.020) {
      large += gap;
      ++pauses;
      if (std::getenv("IR_BENCH_PAUSES"))
        std::printf("    pause %.3f s before frame %s\n", gap,
                    events[i].bytes.substr(1, std::min<size_t>(12, events[i].bytes.size() - 2)).c_str());
    } else if (gap > 0) {
      small += gap;
    }
    ++exchanges;
  }
  std::printf("  client time between a reply and the next frame: %.2f s over %ld exchanges (%.3f ms each), and "
              "%ld pauses over 20 ms: %.2f s\n",
              small, exchanges, exchanges ? small * 1000 / exchanges : 0.0, pauses, large);
}

Wire wire_between(const std::vector<r50sim::Event>& events, const std::string& first, const std::string& last) {
  size_t a = events.size(), b = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    if (e.kind != r50sim::Event::kFrame) continue;
    const std::string payload = e.bytes.substr(1, e.bytes.size() - 2);
    if (a == events.size() && payload.rfind(first, 0) == 0) a = i;
    if (payload.rfind(last, 0) == 0) b = i;
  }
  Wire w;
  if (a >= events.size() || b < a) return w;
  // Up to the reply to the last frame.
  size_t end = b;
  while (end + 1 < events.size() && events[end].kind != r50sim::Event::kReply) ++end;
  // The reply's event is logged when queued; it is on the line once its pacing is over,
  // which is the frame's arrival plus the exchange's wire time.
  const auto& f = events[b];
  const auto& r = events[end];
  const double tail = (static_cast<double>(f.bytes.size() + r.bytes.size()) * 10.0) / kLine;
  w.seconds = seconds(events[a].at, f.at) + tail;
  for (size_t i = a; i <= end; ++i) {
    const auto& e = events[i];
    if (e.kind == r50sim::Event::kFrame || e.kind == r50sim::Event::kReply) w.bytes += static_cast<long>(e.bytes.size());
  }
  return w;
}

constexpr int kStagingPasses = 5;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The peer of the staging, measured in the same run: the same products read
// the same way, their Scanner_Data rows written by the engine's bulk load
// into a new scanner file, committed once.
double bulk_load_peer(tallimo::Session& session, const std::string& dir) {
  const std::string peer_path = dir + "/peer.mdb";
  std::filesystem::remove(peer_path);
  auto scanner = jet::dao::Database::create(peer_path, jet::dao::kLangGeneral, jet::dao::kVersion40);
  scanner->execute(tallimo::scanner_data_table_sql());
  if (!tallimo::Open_Orvex_DataBase(session)) return 0;
  const auto t0 = Clock::now();
  auto rs = tallimo::Orvex_Database(session)->open_recordset("Select * From Product1");
  const tallimo::ProductListFields f(*rs);
  jet::Table& table = scanner->engine().table("Scanner_Data");
  // Scanner_Data's columns in order: Scanner_Data_ID, Qty, Item_Number,
  // Item_Order, Description, Vendor_Code, Standard_Price, Current_Cost,
  // Location, List_Price, File_Type, Notes.
  table.insert_rows([&](jet::Row& row) {
    if (rs->eof()) return false;
    const std::string item = tallimo::Null_To_Text(rs->field(f.code));
    row.assign(12, jet::Value());
    row[1] = static_cast<double>(tallimo::Null_To_Currency(rs->field(f.quantity)).ten_thousandths) / 10000.0;
    row[2] = item;
    row[3] = tallimo::String_To_Hex(item);
    row[4] = rs->field(f.description);
    row[5] = rs->field(f.vendor);
    row[6] = tallimo::Null_To_Currency(rs->field(f.standard_price));
    row[7] = tallimo::Null_To_Currency(rs->field(f.current_cost));
    row[8] = rs->field(f.location);
    row[9] = tallimo::Null_To_Currency(rs->field(f.list_price));
    rs->move_next();
    return true;
  });
  const double s = seconds(t0, Clock::now());
  rs->close();
  tallimo::Close_Orvex_DataBase(session);
  return s;
}

bool upload(tallimo::Session& session, const std::string& dir, int products, r50sim::Simulator& sim,
            bool staging_only) {
  const std::string products_path = dir + "/products.mdb";
  {
    auto db = tallimo::demo::create_products_database(products_path);
    tallimo::demo::add_products(*db, tallimo::demo::generated_catalogue(products, 11));
    db->close();
  }
  session.settings().Orvex_Location = products_path;
  if (!tallimo::Open_Scanner_Data_File(session)) return false;

  // The staging alone, five times: the first into an empty Scanner_Data, the
  // others each replacing the list before it (as every upload after the
  // first does). The median is the figure; the machine's neighbours move
  // single passes.
  std::vector<double> passes;
  for (int pass = 1; pass <= kStagingPasses; ++pass) {
    if (!tallimo::Open_Orvex_DataBase(session)) return false;
    const auto size_before = std::filesystem::file_size(tallimo::Scanner_Database_Path(session));
    const auto t0 = Clock::now();
    const double c0 = cpu_seconds();
    tallimo::stage_product_list(*tallimo::Scanner_Database(session), *tallimo::Orvex_Database(session));
    const double s = seconds(t0, Clock::now());
    const double cpu = cpu_seconds() - c0;
    tallimo::Close_Orvex_DataBase(session);
    const auto size_after = std::filesystem::file_size(tallimo::Scanner_Database_Path(session));
    std::printf("  staging %d products, pass %d: %.3f s (processor time %.3f s); POS_Scanner.MDB %ld -> %ld bytes\n",
                products, pass, s, cpu, static_cast<long>(size_before), static_cast<long>(size_after));
    passes.push_back(s);
  }
  const double staging = median(passes);
  const double peer = bulk_load_peer(session, dir);
  std::printf("  staging, median of %d passes: %.3f s; goal 1.5 s: ratio %.2f\n", kStagingPasses, staging, staging / 1.5);
  std::printf("  peer: the same rows by the engine's bulk load (no statements, the index built once): %.3f s; "
              "staging / peer %.2f\n",
              peer, staging / peer);

  if (staging_only) {
    tallimo::Close_Scanner_Data_File(session);
    return true;
  }
  sim.with_scanner([](r50sim::Scanner& s) { s.set_sync_mode(true); });
  sim.clear_events();
  const auto t0 = Clock::now();
  const auto summary = tallimo::Update_Inventory_Corvia_Labs(session, false);
  const double total = seconds(t0, Clock::now());
  const auto events = sim.events();
  // From the first product record to the last index entry.
  Wire w = wire_between(events, "350 ", "360 ");
  print_client_time(events);
  std::printf("  upload run: %.1f s in all; %ld products and %ld index entries sent%s\n", total,
              summary.products_sent, summary.index_entries_sent, summary.completed ? "" : " (NOT completed)");
  std::printf("  wire: %ld bytes in %.1f s = %.0f bit/s; line limit %.0f bit/s; ratio %.3f (goal 0.90)\n", w.bytes,
              w.seconds, w.bytes * 10.0 / w.seconds, kLine, w.use());
  tallimo::Close_Scanner_Data_File(session);
  return summary.completed;
}

bool read(tallimo::Session& session, int scans, r50sim::Simulator& sim) {
  const int per_file = scans / 5;
  sim.with_scanner([&](r50sim::Scanner& s) {
    for (int f = 0; f < 7; ++f) s.set_records(f, {});
    for (int f = 0; f < 5; ++f) {
      std::vector<std::string> records;
      for (int k = 0; k < per_file; ++k)
        records.push_back("P" + std::to_string(100000 + (k * 7919) % 3000) + "~" + std::to_string(1 + k % 9) +
                          "~SCANNED ITEM " + std::to_string(k % 100));
      s.set_records(f, records);
    }
    s.set_sync_mode(true);
  });
  if (!tallimo::Open_Scanner_Data_File(session)) return false;
  sim.clear_events();
  const auto t0 = Clock::now();
  const auto summary = tallimo::Synchronize_Infrared(session, false);
  const double total = seconds(t0, Clock::now());
  // From the first record read of file 0 to the deletion of file 4.
  const auto events = sim.events();
  Wire w = wire_between(events, "200", "14");
  print_client_time(events);
  std::printf("  read run: %.1f s in all (the product list's count waits 5 s by design); %ld records read, %d "
              "files%s\n",
              total, summary.records_read, summary.files_read, summary.completed ? "" : " (NOT completed)");
  std::printf("  wire: %ld bytes in %.1f s = %.0f bit/s; line limit %.0f bit/s; ratio %.3f (goal 0.90)\n", w.bytes,
              w.seconds, w.bytes * 10.0 / w.seconds, kLine, w.use());
  tallimo::Close_Scanner_Data_File(session);
  return summary.completed;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  bool staging_only = false;
  if (argc > 1 && std::string(argv[1]) == "--staging-only") {
    staging_only = true;
    --argc;
    ++argv;
  }
  const int products = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int scans = argc > 2 ? std::atoi(argv[2]) : 10000;
  if (products <= 0 || scans <= 0 || scans / 5 > 32767) {
    std::fprintf(stderr, "usage: ir_runs_bench [--staging-only] [PRODUCTS [SCANS]]\n");
    return 2;
  }
  char tmpl[] = "/tmp/tallimo-ir-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  BenchUi ui;
  tallimo::Session session(ui, dir);
  tallimo::ir::set_corvia_library_path(CORVIA_LIBRARY_FILE);

  r50sim::Options options;
  options.pace_line = true;
  options.memory_total = 256L * 1024 * 1024;
  r50sim::Simulator sim(options);
  sim.start();
  ::setenv("CORVIA_COM2", sim.slave_path().c_str(), 1);
  session.settings().Com_Port = 1;
  session.settings().Baud_Rate = 0;

  bool ok = true;
  try {
    if (!staging_only) {
      std::printf("read of %d scans at 115200 bit/s, replies paced at wire time:\n", scans);
      ok = read(session, scans, sim) && ok;
    }
    std::printf("upload of %d products at 115200 bit/s, replies paced at wire time:\n", products);
    ok = upload(session, dir, products, sim, staging_only) && ok;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    ok = false;
  }
  sim.stop();
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
