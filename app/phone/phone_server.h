// The phone scanner's server: a page on the shop's network that turns any phone's
// browser into a scanner feeding Scanner_Data.
//
// What it serves (plain HTTP on the address the user picks):
//   GET  /, /app.js, /style.css   the page, built into the program (Qt resources);
//                                 no other name is ever looked up, nothing is read
//                                 from the file system for a request
//   POST /api/pair                {code, phone} -> {token, kinds}: the one-time code
//                                 shown on the screen buys a session token; the code
//                                 changes after every pairing; too many wrong codes
//                                 lock pairing for a while
//   POST /api/scan                {id, item, kind, qty[, description]} -> committed to
//                                 POS_Scanner.MDB, then acknowledged; a resent id is
//                                 acknowledged again and not counted twice
//   POST /api/undo                {id, scan} -> the scan taken back
//   GET  /api/product?item=CODE   description and recorded stock from PRODUCT1
//   POST /api/decode              a photo (JPEG/PNG) -> the barcode read from it
// Every /api request but pairing carries "Authorization: Bearer TOKEN"; tokens
// expire after an idle time and at a fixed age.
//
// Why plain HTTP and photos: a browser gives the live camera only to a secure page
// (HTTPS or localhost), and a certificate made by the shop must be installed and
// trusted on every phone. A photo taken through the page's file input
// (capture="environment") needs no secure page and works in every current phone
// browser; the server reads the barcode from it with zxing-cpp. Where the page is
// secure (localhost, or HTTPS in front of it), it scans live from the camera.
//
// Threads: the server lives in the thread that created it (the program's one
// thread); every commit happens there, one at a time.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

namespace tallimo {
class Session;
}

namespace tallimo::phone {

// The six kinds as the program shows them, by File_Type.
inline constexpr const char* kKindLabels[6] = {"Add to Inventory",  "Subtract Inventory", "Compare Inventory",
                                               "Replace Inventory", "Add New Item",       "Edit Products"};

struct PhoneServerOptions {
  // Where to listen: empty picks the machine's first private network address;
  // "loopback" (or 127.0.0.1, ::1) this machine only. A public address is refused.
  QString address;
  uint16_t port = 8117;  // 0: any free port
  int session_idle_seconds = 2 * 3600;
  int session_max_seconds = 12 * 3600;
  int wrong_codes_before_lock = 5;
  int lock_seconds = 300;
  int max_connections = 64;
  // A connection that completes no request for this long is closed (a slow
  // sender cannot hold the connections).
  int idle_connection_seconds = 30;
  int max_sessions = 32;
};

// What a listening address may be: loopback or a private network address
// (10/8, 172.16/12, 192.168/16, 169.254/16, fc00::/7, fe80::/10).
bool is_private_or_loopback(const QHostAddress& address);
// The address `requested` stands for (see PhoneServerOptions::address), or a null
// address with the reason in `error`.
QHostAddress choose_listen_address(const QString& requested, QString* error);

// What the server reports to whoever shows it (the pairing window, tallimo-cli).
struct ScanEvent {
  QString phone;
  QString item;
  int kind = 0;
  double qty = 0;      // this scan's quantity (negative for an undo)
  double row_qty = 0;  // the row's quantity afterwards
  bool duplicate = false;
};

class PhoneServer : public QObject {
  Q_OBJECT
 public:
  // The session's scanner database must be open while the server runs; the
  // products database is opened by start() for the look-ups when it can be.
  PhoneServer(Session& session, PhoneServerOptions options, QObject* parent = nullptr);
  ~PhoneServer() override;

  // Listens. Returns false with the reason in `error`.
  bool start(QString* error);
  void stop();
  bool listening() const;

  QHostAddress address() const;
  uint16_t port() const;
  // "http://ADDRESS:PORT/" and the same with "#CODE" for the QR code.
  QString url() const;
  QString pairing_url() const;
  QString pairing_code() const;
  int paired_phones() const;
  long scans_applied() const;

 signals:
  void scan_received(const tallimo::phone::ScanEvent& event);
  void phone_paired(const QString& phone);
  void pairing_code_changed(const QString& code);
  void pairing_locked(int seconds);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tallimo::phone
