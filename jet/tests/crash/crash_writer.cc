// The writer the crash test kills: runs the crash workload's transactions
// over two databases, from wherever the files are, until it is killed or
// has made `count` commits. After each commit it writes the committed
// generation as a line to standard output (unbuffered), so the test knows
// the last commit it may expect.
//
//   jet_crash_writer SCANNER.mdb PRODUCTS.mdb [COUNT] [fast]
//
// Exit status: 0 after COUNT commits, 2 on any error (message on stderr).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "crash_workload.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"

int main(int argc, char** argv) {
  using namespace jet;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SCANNER.mdb PRODUCTS.mdb [COUNT] [fast]\n", argv[0]);
    return 2;
  }
  long count = argc > 3 ? std::atol(argv[3]) : 1000000;
  try {
    OpenOptions o;
    o.read_write = true;
    if (argc > 4 && std::string(argv[4]) == "fast") o.durability = Durability::kFast;
    auto scanner = Database::open(argv[1], o);
    auto products = Database::open(argv[2], o);
    Table& st = scanner->table("Table1");
    Table& pt = products->table("Table1");
    std::map<int32_t, RowId> scanner_ids;
    RowId product_one{};
    for (auto c = st.scan(); c.next();) scanner_ids[std::get<int32_t>(c.row()[0])] = c.id();
    std::vector<Row> all;
    for (auto c = pt.scan(); c.next();) {
      all.push_back(c.row());
      if (std::get<int32_t>(c.row()[0]) == 1) product_one = c.id();
    }
    long g = crash::generation_of(all);
    if (g < 0) throw Error(ErrorCategory::kCorruption, std::string(argv[2]) + ": no generation marker in row 1");
    for (long done = 0; done < count; ++done) {
      ++g;
      Transaction tx({scanner.get(), products.get()});
      scanner_ids[static_cast<int32_t>(1000 + g)] = st.insert(crash::row(1000 + g, "scan " + std::to_string(g)));
      auto old = scanner_ids.find(static_cast<int32_t>(1000 + g - 5));
      if (old != scanner_ids.end()) {
        st.remove(old->second);
        scanner_ids.erase(old);
      }
      pt.update(product_one, crash::row(1, crash::marker(g)));
      pt.insert(crash::row(1000 + g, "posted " + std::to_string(g)));
      for (const Row& r : crash::bulk_rows(g)) pt.insert(r);
      tx.commit();
      std::string line = std::to_string(g) + "\n";
      if (::write(1, line.data(), line.size()) < 0) return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "crash writer: %s\n", e.what());
    return 2;
  }
  return 0;
}
