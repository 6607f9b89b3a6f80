// The phone scanner under a shop's load: 20 phones sending 50 scans a second together
// (each phone one scan every 400 ms) for a minute, over HTTP to the server on this
// machine's loopback. Prints the acknowledgement latency (send to answer, the commit
// to POS_Scanner.MDB included) beside a peer measured in the same run: the same
// scans committed straight through the store, no network. Checks at the end that
// every scan is in Scanner_Data exactly once.
//
//   phone_bench [SECONDS] [PHONES] [SCANS_PER_SECOND]     (defaults 60 20 50)
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "app/phone/phone_server.h"
#include "app/phone/phone_store.h"
#include "app/phone/tests/phone_client.h"
#include "app/session.h"
#include "app/user_interface.h"
#include "jet/dao.h"

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Tally {
  std::mutex mutex;
  std::vector<double> latencies_ms;
  std::map<std::string, double> expected;  // "kind item" -> quantity
  long failed = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int phones = argc > 2 ? std::atoi(argv[2]) : 20;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 50;
  QCoreApplication app(argc, argv);

  const std::string dir = std::filesystem::temp_directory_path() / ("tallimo-phone-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  {
    auto products = tallimo::demo::create_products_database(dir + "/products.mdb");
    tallimo::demo::add_products(*products, tallimo::demo::generated_catalogue(5000, 7));
    products->close();
  }
  tallimo::ConsoleUserInterface ui(true);
  tallimo::Session session(ui, dir);
  session.settings().Orvex_Location = dir + "/products.mdb";
  if (!tallimo::Open_Scanner_Data_File(session)) return 1;

  tallimo::phone::PhoneServerOptions options;
  options.address = "loopback";
  options.port = 0;
  tallimo::phone::PhoneServer server(session, options);
  QString error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const int port = server.port();

  // Pairing happens on the server's thread: each phone takes the current code.
  std::vector<std::unique_ptr<tallimo::phone::testing::PhoneClient>> clients;
  std::atomic<int> paired{0};
  for (int i = 0; i < phones; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "bench-phone-%02d", i);
    clients.push_back(std::make_unique<tallimo::phone::testing::PhoneClient>(port, name));
  }

  Tally tally;
  const auto interval = std::chrono::microseconds(1000000LL * phones / rate);
  const auto start = Clock::now() + std::chrono::milliseconds(500);
  const auto end = start + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int i = 0; i < phones; ++i) {
    threads.emplace_back([&, i] {
      auto& client = *clients[i];
      // One phone pairs at a time (the code changes after each pairing).
      static std::mutex pairing;
      {
        std::lock_guard<std::mutex> lock(pairing);
        std::string code;
        QMetaObject::invokeMethod(&server, [&] { code = server.pairing_code().toStdString(); },
                                  Qt::BlockingQueuedConnection);
        if (!client.pair(code)) std::fprintf(stderr, "phone %d could not pair\n", i);
        ++paired;
      }
      std::vector<double> mine;
      std::map<std::string, double> expected;
      long failed = 0;
      // The phones' sends are spread evenly over the interval.
      auto next = start + interval * i / phones;
      for (long sequence = 1; next < end; ++sequence, next += interval) {
        std::this_thread::sleep_until(next);
        const std::string item = "P" + std::to_string(100000 + (i * 7919 + sequence * 104729) % 5000).substr(1);
        const int kind = static_cast<int>(sequence % 3 == 0 ? 2 : 0);
        const auto sent = Clock::now();
        const auto answer = client.scan(sequence, item, kind, 1);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (answer.status != 200) {
          ++failed;
          continue;
        }
        mine.push_back(ms);
        expected[std::to_string(kind) + " " + item] += 1;
      }
      std::lock_guard<std::mutex> lock(tally.mutex);
      tally.latencies_ms.insert(tally.latencies_ms.end(), mine.begin(), mine.end());
      for (const auto& [key, qty] : expected) tally.expected[key] += qty;
      tally.failed += failed;
    });
  }
  // The server runs on this thread until the phones are done.
  std::thread waiter([&] {
    for (auto& t : threads) t.join();
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  waiter.join();
  server.stop();

  // Every scan once: Scanner_Data against what the phones had acknowledged.
  long mismatched = 0, committed = 0;
  {
    auto rs = session.scanner_database()->open_recordset("Select * From Scanner_Data");
    std::map<std::string, double> found;
    for (; !rs->eof(); rs->move_next()) {
      const std::string key = std::to_string(std::get<int16_t>(rs->field("File_Type"))) + " " +
                              std::get<std::string>(rs->field("Item_Number"));
      found[key] += std::get<double>(rs->field("Qty"));
    }
    rs->close();
    for (const auto& [key, qty] : tally.expected) {
      committed += static_cast<long>(qty);
      if (found[key] != qty) ++mismatched;
    }
    if (found.size() != tally.expected.size()) ++mismatched;
  }

  // The peer: the same number of scans committed straight through the store.
  std::vector<double> direct;
  {
    tallimo::phone::PhoneStore store(*session.scanner_database());
    const size_t n = std::min<size_t>(tally.latencies_ms.size(), 1000);
    for (size_t k = 0; k < n; ++k) {
      tallimo::phone::PhoneScan scan;
      scan.id = "direct-peer:" + std::to_string(k + 1);
      scan.item = "P" + std::to_string(100000 + (k * 104729) % 5000).substr(1);
      scan.kind = 0;
      scan.qty = 1;
      const auto t = Clock::now();
      store.apply(scan);
      direct.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    }
  }
  tallimo::Close_Scanner_Data_File(session);
  std::filesystem::remove_all(dir);

  const auto& l = tally.latencies_ms;
  const double p50 = percentile(l, 0.50), p99 = percentile(l, 0.99), worst = percentile(l, 1.0);
  const double d50 = percentile(direct, 0.50), d99 = percentile(direct, 0.99);
  std::printf("phones %d, %d scans/s offered for %d s: %zu acknowledged (%.1f/s), %ld failed, %ld committed, %s\n",
              phones, rate, seconds, l.size(), static_cast<double>(l.size()) / seconds, tally.failed, committed,
              mismatched == 0 ? "every scan once in Scanner_Data" : "Scanner_Data DIFFERS");
  std::printf("acknowledgement over HTTP   p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms   (goal p99 < 100 ms)\n", p50,
              p99, worst);
  std::printf("peer: store commit, no net  p50 %7.2f ms  p99 %7.2f ms   (%zu scans)\n", d50, d99, direct.size());
  std::printf("ratio HTTP / direct         p50 %7.2f      p99 %7.2f\n", d50 > 0 ? p50 / d50 : 0, d99 > 0 ? p99 / d99 : 0);
  return (mismatched == 0 && tally.failed == 0) ? 0 : 1;
}
