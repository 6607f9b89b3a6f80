// The phone scanner's server as a phone (and an intruder) meets it: the page, pairing,
// scans acknowledged after their commit, and the attacks it must turn away.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "app/data/scanner_database.h"
#include "app/phone/barcode.h"
#include "app/phone/phone_server.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

struct Reply {
  int status = 0;
  QByteArray body;
  QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

class PhoneServerTest : public ShopTest {
 protected:
  void SetUp() override {
    ShopTest::SetUp();
    make_shop({product("A1", 7, "Widget"), product("B2", std::nullopt, "Gadget")}, {});
    ASSERT_TRUE(Open_Scanner_Data_File(session()));
  }
  void TearDown() override {
    server_.reset();
    Close_Scanner_Data_File(session());
    ShopTest::TearDown();
  }
  void start(phone::PhoneServerOptions options = {}) {
    options.address = "loopback";
    options.port = 0;
    server_ = std::make_unique<phone::PhoneServer>(session(), options);
    QString error;
    ASSERT_TRUE(server_->start(&error)) << error.toStdString();
  }
  QUrl at(const QString& path) const { return QUrl(server_->url() + path.mid(1)); }

  Reply send(const QString& method, const QString& path, const QByteArray& body = {},
             const QByteArray& token = {}, const QByteArray& type = "application/json") {
    QNetworkRequest request(at(path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, type);
    if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
    QNetworkReply* reply = net_.sendCustomRequest(request, method.toLatin1(), body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    Reply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    reply->deleteLater();
    return out;
  }
  Reply post(const QString& path, const QJsonObject& body, const QByteArray& token = {}) {
    return send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), token);
  }
  // What a raw connection gets back for `bytes` (all of it until the server closes
  // or `ms` pass).
  QByteArray raw(const QByteArray& bytes, int ms = 3000) {
    QTcpSocket socket;
    socket.connectToHost(server_->address(), server_->port());
    QByteArray got;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(bytes); });
    // Done when the server closes, or when one whole answer (head and body) is in.
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
      got += socket.readAll();
      const qsizetype head_end = got.indexOf("\r\n\r\n");
      if (head_end < 0) return;
      const qsizetype at = got.toLower().indexOf("content-length:");
      if (at < 0 || at > head_end) return;
      const qsizetype line_end = got.indexOf("\r\n", at);
      const qsizetype length = got.mid(at + 15, line_end - at - 15).trimmed().toLongLong();
      if (got.size() >= head_end + 4 + length) loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return got;
  }
  // Runs the event loop (the server's too) until `done` or `ms` pass.
  static bool wait_until(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }
  QByteArray pair(const QString& phone = "phone-test-1") {
    const Reply r = post("/api/pair", {{"code", server_->pairing_code()}, {"phone", phone}});
    EXPECT_EQ(r.status, 200) << r.body.toStdString();
    return r.json().value("token").toString().toLatin1();
  }
  static QJsonObject scan(const QString& id, const QString& item, int kind, double qty) {
    return {{"id", id}, {"item", item}, {"kind", kind}, {"qty", qty}};
  }

  QNetworkAccessManager net_;
  std::unique_ptr<phone::PhoneServer> server_;
};

TEST_F(PhoneServerTest, APhonePairsScansAndSeesTheProduct) {
  start();
  const Reply page = send("GET", "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(page.body.contains("Tallimo Scanner"));
  EXPECT_EQ(send("GET", "/app.js").status, 200);
  EXPECT_EQ(send("GET", "/style.css").status, 200);

  const QString code = server_->pairing_code();
  EXPECT_EQ(code.size(), 6);
  EXPECT_EQ(post("/api/pair", {{"code", "x"}, {"phone", "phone-test-1"}}).status, 403);
  const QByteArray token = pair();
  EXPECT_NE(server_->pairing_code(), code) << "a code pairs one phone only";
  EXPECT_EQ(post("/api/pair", {{"code", code}, {"phone", "phone-test-2"}}).status, 403);

  Reply r = post("/api/scan", scan("phone-test-1:1", "A1", 0, 2), token);
  ASSERT_EQ(r.status, 200) << r.body.toStdString();
  EXPECT_FALSE(r.json().value("duplicate").toBool());
  r = post("/api/scan", scan("phone-test-1:1", "A1", 0, 2), token);  // the answer was lost: resent
  EXPECT_TRUE(r.json().value("duplicate").toBool());
  r = post("/api/scan", scan("phone-test-1:2", "A1", 0, 3), token);
  EXPECT_DOUBLE_EQ(r.json().value("row_qty").toDouble(), 5);
  r = post("/api/undo", {{"id", "phone-test-1:3"}, {"scan", "phone-test-1:2"}}, token);
  EXPECT_EQ(r.status, 200);
  EXPECT_DOUBLE_EQ(r.json().value("row_qty").toDouble(), 2);

  r = send("GET", "/api/product?item=A1", {}, token);
  EXPECT_EQ(r.json().value("description").toString(), "Widget");
  EXPECT_DOUBLE_EQ(r.json().value("stock").toDouble(), 7);
  r = send("GET", "/api/product?item=B2", {}, token);
  EXPECT_TRUE(r.json().value("stock").isNull());
  EXPECT_FALSE(send("GET", "/api/product?item=NONE", {}, token).json().value("found").toBool());
  EXPECT_EQ(server_->scans_applied(), 2);

  server_.reset();
  Close_Scanner_Data_File(session());
  const auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("Item_Number"), "A1");
  EXPECT_EQ(rows[0].at("Description"), "Widget");
  EXPECT_EQ(rows[0].at("File_Type"), "0");
  EXPECT_EQ(std::stod(rows[0].at("Qty")), 2);
}

TEST_F(PhoneServerTest, NoTokenNoEntryAndSessionsExpire) {
  phone::PhoneServerOptions options;
  options.session_idle_seconds = 1;
  start(options);
  EXPECT_EQ(post("/api/scan", scan("phone-test-1:1", "A1", 0, 1)).status, 401);
  EXPECT_EQ(post("/api/scan", scan("phone-test-1:1", "A1", 0, 1), "0123456789abcdef").status, 401);
  EXPECT_EQ(send("GET", "/api/product?item=A1").status, 401);
  EXPECT_EQ(send("POST", "/api/decode", "x", {}, "image/png").status, 401);
  const QByteArray token = pair();
  EXPECT_EQ(post("/api/scan", scan("phone-test-1:1", "A1", 0, 1), token).status, 200);
  QThread::sleep(3);
  EXPECT_EQ(post("/api/scan", scan("phone-test-1:2", "A1", 0, 1), token).status, 401);
}

TEST_F(PhoneServerTest, WrongCodesLockPairingAndChangeTheCode) {
  phone::PhoneServerOptions options;
  options.wrong_codes_before_lock = 3;
  start(options);
  const QString code = server_->pairing_code();
  int locked = 0;
  QObject::connect(server_.get(), &phone::PhoneServer::pairing_locked, [&](int) { ++locked; });
  for (int i = 0; i < 3; ++i) {
    const QString wrong = QString::number((code.toInt() + 1 + i) % 1000000).rightJustified(6, '0');
    EXPECT_EQ(post("/api/pair", {{"code", wrong}, {"phone", "intruder-1"}}).status, 403);
  }
  EXPECT_EQ(locked, 1);
  EXPECT_NE(server_->pairing_code(), code);
  // Locked: even the right code is refused now.
  EXPECT_EQ(post("/api/pair", {{"code", server_->pairing_code()}, {"phone", "phone-test-1"}}).status, 429);
}

TEST_F(PhoneServerTest, BadRequestsAreRefusedAndNothingIsWritten) {
  start();
  const QByteArray token = pair();
  pair("phone-other-2");  // a second phone, whose ids the first may not use
  struct Case {
    QByteArray body;
    int status;
  };
  const std::vector<Case> cases = {
      {"not json", 400},
      {"[1,2]", 400},
      {R"({"id":"phone-test-1:1","item":"A1","kind":"0","qty":1})", 400},
      {R"({"id":"phone-test-1:1","item":"A1","kind":0.5,"qty":1})", 400},
      {R"({"id":"phone-test-1:1","item":"A1","kind":6,"qty":1})", 400},
      {R"({"id":"phone-test-1:1","item":"A1","kind":0,"qty":-3})", 400},
      {R"({"id":"phone-test-1:1","item":"A1","kind":0,"qty":1e300})", 400},
      {R"({"id":"phone-test-1:1","item":"","kind":0,"qty":1})", 400},
      {R"({"id":"phone-test-1:1","item":"A1\u0000","kind":0,"qty":1})", 400},
      {R"({"id":"phone-test-1:1","item":")" + QByteArray(256, 'X') + R"(","kind":0,"qty":1})", 400},
      {R"({"id":"phone-test-1:1","item":"A1","kind":0,"qty":1,"description":")" + QByteArray(256, 'D') + R"("})",
       400},
      {R"({"id":"phone-other-2:1","item":"A1","kind":0,"qty":1})", 403},  // another phone's id
      {R"({"id":"phone-test-1:1","item":"A1","kind":0,"qty":1,"pad":")" + QByteArray(20000, 'p') + R"("})", 413},
  };
  for (const Case& c : cases) {
    const Reply r = send("POST", "/api/scan", c.body, token);
    EXPECT_EQ(r.status, c.status) << c.body.left(120).toStdString() << " -> " << r.body.toStdString();
  }
  EXPECT_EQ(post("/api/undo", {{"id", "phone-test-1:9"}, {"scan", "phone-other-2:1"}}, token).status, 403);
  EXPECT_EQ(post("/api/undo", {{"id", "phone-test-1:9"}, {"scan", "phone-test-1:8"}}, token).status, 409);
  EXPECT_EQ(send("DELETE", "/api/scan", {}, token).status, 404);
  EXPECT_EQ(server_->scans_applied(), 0);
  server_.reset();
  Close_Scanner_Data_File(session());
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(PhoneServerTest, OnlyThePagesOwnFilesAreServed) {
  start();
  for (const char* path : {"/../../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/etc/passwd", "/page.qrc",
                           "/phone/page/index.html", "/:/phone/page/app.js", "/index.html/..", "//etc/passwd",
                           "/app.js%00.png", "/POS_Scanner.MDB", "/ErrorLog.txt"}) {
    const QByteArray got = raw(QByteArray("GET ") + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_FALSE(got.contains("root:")) << path;
    EXPECT_TRUE(got.startsWith("HTTP/1.1 404")) << path << ": " << got.left(60).toStdString();
  }
  EXPECT_TRUE(raw("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                  .startsWith("HTTP/1.1 405"));
  // Security headers on the page.
  const QByteArray page = raw("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(page.contains("Content-Security-Policy: default-src 'self'"));
  EXPECT_TRUE(page.contains("X-Content-Type-Options: nosniff"));
}

TEST_F(PhoneServerTest, AFloodOfBytesIsCutOffAndTheServerGoesOn) {
  start();
  // A body far beyond any photo: the connection is dropped before it is read whole.
  QByteArray head = "POST /api/decode HTTP/1.1\r\nHost: x\r\nContent-Length: 50000000\r\n\r\n";
  const QByteArray got = raw(head + QByteArray(12 * 1024 * 1024, 'a'), 10000);
  EXPECT_FALSE(got.startsWith("HTTP/1.1 200"));
  // Garbage instead of HTTP.
  raw(QByteArray(5000, '\x01'), 1000);
  const QByteArray token = pair();
  EXPECT_EQ(post("/api/scan", scan("phone-test-1:1", "A1", 0, 1), token).status, 200);
}

TEST_F(PhoneServerTest, SlowAndSurplusConnectionsAreClosed) {
  phone::PhoneServerOptions options;
  options.idle_connection_seconds = 1;
  options.max_connections = 3;
  start(options);
  // Half a request, then nothing: closed after the idle time, not left open.
  QTcpSocket slow;
  slow.connectToHost(server_->address(), server_->port());
  ASSERT_TRUE(wait_until([&] { return slow.state() == QAbstractSocket::ConnectedState; }, 3000));
  slow.write("GET / HTTP/1.1\r\nHost: x\r\n");
  EXPECT_TRUE(wait_until([&] { return slow.state() == QAbstractSocket::UnconnectedState; }, 8000));
  // Beyond the connection limit a new connection is closed at once.
  std::vector<std::unique_ptr<QTcpSocket>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<QTcpSocket>());
    held.back()->connectToHost(server_->address(), server_->port());
    ASSERT_TRUE(wait_until([&] { return held.back()->state() == QAbstractSocket::ConnectedState; }, 3000));
  }
  QTcpSocket extra;
  extra.connectToHost(server_->address(), server_->port());
  EXPECT_TRUE(wait_until([&] { return extra.state() == QAbstractSocket::UnconnectedState; }, 3000));
  for (auto& s : held) EXPECT_EQ(s->state(), QAbstractSocket::ConnectedState);
  held.clear();
  // Once they are gone, phones get in again.
  wait_until([] { return false; }, 300);
  const QByteArray token = pair();
  EXPECT_EQ(post("/api/scan", scan("phone-test-1:1", "A1", 0, 1), token).status, 200);
}

TEST_F(PhoneServerTest, APhotoOfABarcodeIsRead) {
  start();
  const QByteArray token = pair();
  const QImage picture = phone::render_barcode("4006381333931", "EAN13", 400, 160);
  ASSERT_FALSE(picture.isNull());
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "PNG");
  Reply r = send("POST", "/api/decode", png, token, "image/png");
  EXPECT_EQ(r.status, 200) << r.body.toStdString();
  EXPECT_EQ(r.json().value("text").toString(), "4006381333931");
  r = send("POST", "/api/decode", "GIF89a not a photo", token, "image/gif");
  EXPECT_EQ(r.status, 422);
  QImage blank(300, 300, QImage::Format_Grayscale8);
  blank.fill(255);
  png.clear();
  QBuffer b2(&png);
  b2.open(QIODevice::WriteOnly);
  blank.save(&b2, "PNG");
  EXPECT_EQ(send("POST", "/api/decode", png, token, "image/png").status, 422);
}

TEST(PhoneAddress, OnlyLoopbackAndPrivateAddressesAreListenedOn) {
  using phone::is_private_or_loopback;
  for (const char* a : {"127.0.0.1", "::1", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.20",
                        "169.254.3.4", "fd00::1", "fe80::1"})
    EXPECT_TRUE(is_private_or_loopback(QHostAddress(QString::fromLatin1(a)))) << a;
  for (const char* a : {"8.8.8.8", "172.32.0.1", "172.15.255.255", "192.169.0.1", "11.0.0.1", "2001:db8::1", ""})
    EXPECT_FALSE(is_private_or_loopback(QHostAddress(QString::fromLatin1(a)))) << a;
  QString error;
  EXPECT_TRUE(phone::choose_listen_address("8.8.8.8", &error).isNull());
  EXPECT_TRUE(error.contains("public"));
  EXPECT_TRUE(phone::choose_listen_address("0.0.0.0", &error).isNull());
  EXPECT_TRUE(phone::choose_listen_address("::", &error).isNull());
  EXPECT_TRUE(phone::choose_listen_address("10.99.99.99", &error).isNull());  // not this machine's
  EXPECT_TRUE(phone::choose_listen_address("nonsense", &error).isNull());
  EXPECT_TRUE(phone::choose_listen_address("loopback", &error).isLoopback());
}

}  // namespace
}  // namespace tallimo::testing

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
