// tallimo-cli serve: the phone scanner's server without a window. Phones open the
// printed address, pair with the printed code and scan into Scanner_Data until
// Ctrl-C or SIGTERM. Every line goes to stdout as it happens:
//   listening http://ADDRESS:PORT/
//   pairing code NNNNNN            (again whenever the code changes)
//   paired PHONE
//   scan PHONE KIND ITEM QTY -> ROW_QTY [resent]
// --quiet leaves out the "paired" and "scan" lines.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "app/data/scanner_database.h"
#include "app/phone/phone_server.h"
#include "cli.h"

namespace tallimo::cli {

int run_serve(const std::vector<std::string>& args) {
  phone::PhoneServerOptions options;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--listen" || args[i] == "--port") && i + 1 < args.size()) {
      if (args[i] == "--listen") {
        options.address = QString::fromStdString(args[i + 1]);
      } else {
        long port = -1;
        if (!parse_long(args[i + 1], port) || port < 0 || port > 65535) {
          std::fprintf(stderr, "tallimo-cli: --port takes 0 to 65535, not \"%s\"\n", args[i + 1].c_str());
          return kExitUsage;
        }
        options.port = static_cast<uint16_t>(port);
      }
      ++i;
    } else {
      rest.push_back(args[i]);
    }
  }
  int argc = 1;
  char name[] = "tallimo-cli";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  Program program;
  if (int code = start_program(rest, {"home", "products", "quiet"}, program); code >= 0) return code;
  Session& session = *program.session;
  if (!Open_Scanner_Data_File(session)) return kExitFailed;

  phone::PhoneServer server(session, options);
  QObject::connect(&server, &phone::PhoneServer::pairing_code_changed,
                   [](const QString& code) { std::printf("pairing code %s\n", qPrintable(code)); });
  const bool quiet = program.options.quiet;
  QObject::connect(&server, &phone::PhoneServer::phone_paired, [quiet](const QString& phone) {
    if (!quiet) std::printf("paired %s\n", qPrintable(phone));
  });
  QObject::connect(&server, &phone::PhoneServer::pairing_locked, [](int seconds) {
    std::printf("pairing locked for %d s after wrong codes\n", seconds);
  });
  QObject::connect(&server, &phone::PhoneServer::scan_received, [quiet](const phone::ScanEvent& e) {
    if (quiet) return;
    std::printf("scan %s %d %s %g -> %g%s\n", qPrintable(e.phone), e.kind, qPrintable(e.item), e.qty, e.row_qty,
                e.duplicate ? " resent" : "");
  });
  QString error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "tallimo-cli serve: %s\n", qPrintable(error));
    Close_Scanner_Data_File(session);
    return kExitFailed;
  }
  std::printf("listening %s\n", qPrintable(server.url()));
  std::printf("pairing code %s\n", qPrintable(server.pairing_code()));

  // Ctrl-C and SIGTERM set the session's abort flag: the server stops between requests.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (session.abort_requested()) app.quit();
  });
  poll.start(100);
  app.exec();
  server.stop();
  Close_Scanner_Data_File(session);
  std::printf("stopped after %ld scans\n", server.scans_applied());
  return kExitOk;
}

}  // namespace tallimo::cli
