// Records written and read per second over the scanner link at 115200 bit/s,
// through Corvia and the R50 simulator on a pseudo-terminal, beside the line's own
// limit: 115200 divided by the bits one exchange puts on the wire (frame and reply,
// 10 bits per byte: start bit, 8 data bits, stop bit).
//
// Two runs: "unpaced" moves bytes at pseudo-terminal speed and shows what the
// software costs per exchange; "paced" has the simulator hold each reply back for
// the wire time of its frame and reply at the port's speed, as a real line would.
//
// Usage: ir_link_bench [records]   (default 400)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ir/cls_serial_ir.h"
#include "app/ir/corvia_library.h"
#include "app/session.h"
#include "simulator.h"

namespace {


struct Phase {
  double seconds = 0;
  long wire_bytes = 0;
};

long exchanged_bytes(const r50sim::Simulator& sim) {
  long bytes = 0;
  for (const auto& e : sim.events())
    if (e.kind == r50sim::Event::kFrame || e.kind == r50sim::Event::kReply) bytes += static_cast<long>(e.bytes.size());
  return bytes;
}

void fill_product(tallimo::ScannerRecord& Scanner_Record, int i) {
  Scanner_Record = tallimo::ScannerRecord{};
  Scanner_Record.Record_Mode = 1;
  Scanner_Record.Item_Number = std::to_string(4011000000000LL + i);
  Scanner_Record.Description = "ORGANIC APPLE JUICE 1L";
  Scanner_Record.Vendor_Code = "FRESHCO";
  Scanner_Record.Standard_Price = 3.49;
  Scanner_Record.Current_Cost = 2.125;
  Scanner_Record.Qty = 24;
  Scanner_Record.Location = "AISLE 4";
  Scanner_Record.List_Price = 3.99;
}

void print(const char* what, int records, const Phase& p) {
  double rate = records / p.seconds;
  double bits = 10.0 * static_cast<double>(p.wire_bytes) / records;
  double limit = 115200.0 / bits;
  std::printf("  %-7s %6d records in %7.3f s = %8.1f records/s | %5.0f bits/record on the wire, line limit %6.1f records/s | ratio %.2f\n",
              what, records, p.seconds, rate, bits, limit, rate / limit);
}

bool run(bool paced, int records) {
  r50sim::Options options;
  options.pace_line = paced;
  options.memory_total = 64L * 1024 * 1024;
  r50sim::Simulator sim(options);
  sim.start();
  setenv("CORVIA_COM8", sim.slave_path().c_str(), 1);
  const auto& corvia = tallimo::ir::corvia_library();
  if (corvia.vbOpenIrCom(8, 115200) != 1) {
    std::fprintf(stderr, "cannot open the simulated port\n");
    return false;
  }
  tallimo::ConsoleUserInterface ui(true);
  tallimo::Session session(ui);
  tallimo::ScannerRecord& Scanner_Record = session.scanner_record();
  tallimo::cls_Serial_IR link(session);
  link.set_File_Name_Index(5);
  link.set_DataBase_Index(0);
  sim.clear_events();

  Phase write;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < records; ++i) {
    fill_product(Scanner_Record, i);
    link.Write_Record_Set();
  }
  write.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  write.wire_bytes = exchanged_bytes(sim);
  sim.clear_events();

  Phase read;
  int failures = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < records; ++i) {
    link.set_DataBase_Index(static_cast<int16_t>(i));
    Scanner_Record.Record_Mode = 1;
    if (!link.Read_Record_Set()) ++failures;
  }
  read.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  read.wire_bytes = exchanged_bytes(sim);
  int resyncs = sim.count(r50sim::Event::kResync);
  corvia.CloseIrCom();
  sim.stop();

  std::printf("%s:\n", paced ? "paced (replies held for their wire time)" : "unpaced (pseudo-terminal speed)");
  print("write", records, write);
  print("read", records, read);
  if (failures > 0 || resyncs > 0) std::printf("  %d failed reads, %d resynchronisations\n", failures, resyncs);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int records = argc > 1 ? std::atoi(argv[1]) : 400;
  if (records <= 0 || records > 32767) {
    std::fprintf(stderr, "usage: ir_link_bench [records 1..32767]\n");
    return 2;
  }
  tallimo::ir::set_corvia_library_path(CORVIA_LIBRARY_FILE);
  try {
    std::printf("scanner link at 115200 bit/s, %d product records (mode 1)\n", records);
    if (!run(false, records) || !run(true, records)) return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
