#include "app/phone/phone_server.h"

#include <QAbstractHttpServer>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <cmath>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "app/null_conversions.h"
#include "app/phone/barcode.h"
#include "app/phone/phone_store.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "jet/dao.h"
#include "jet/error.h"

// The page's files are built into this static library; their registration is
// called by name so that the linker keeps it.
static void register_page_resources() { Q_INIT_RESOURCE(page); }

namespace tallimo::phone {
namespace {

// Bytes a request may carry: a photo, and everything else.
constexpr qint64 kMaxPhotoBytes = 8 * 1024 * 1024;
constexpr qint64 kMaxJsonBytes = 16 * 1024;
// What one connection may send before a request completes (headers included).
constexpr qint64 kMaxPendingBytes = kMaxPhotoBytes + 64 * 1024;

using Status = QHttpServerResponder::StatusCode;

// The page's files: the only names ever served.
struct PageFile {
  const char* path;
  const char* resource;
  const char* type;
};
constexpr PageFile kPageFiles[] = {
    {"/", ":/phone/page/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/phone/page/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/phone/page/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/phone/page/style.css", "text/css; charset=utf-8"},
};

QString new_code() {
  return QString::number(QRandomGenerator::system()->bounded(1000000)).rightJustified(6, QLatin1Char('0'));
}

QString new_token() {
  QByteArray bytes(24, Qt::Uninitialized);
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
  return QString::fromLatin1(bytes.toHex());
}

// Compares without stopping at the first difference.
bool same_secret(const QByteArray& a, const QByteArray& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (qsizetype i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

struct PhoneSession {
  QString phone;
  qint64 created = 0;
  qint64 last_seen = 0;
};

// The listening socket: caps the connections and the bytes a connection may send
// before its request is answered, before the HTTP server reads anything.
class GuardedTcpServer : public QTcpServer {
 public:
  GuardedTcpServer(int max_connections, int idle_seconds, QObject* parent)
      : QTcpServer(parent), max_connections_(max_connections), idle_ms_(idle_seconds * 1000) {}
  int open_connections() const { return open_; }
  void request_done(QTcpSocket* socket) {
    pending_.remove(socket);
    if (QTimer* idle = socket->findChild<QTimer*>(QStringLiteral("idle"))) idle->start(idle_ms_);
  }

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      delete socket;
      return;
    }
    if (open_ >= max_connections_) {
      socket->abort();
      socket->deleteLater();
      return;
    }
    ++open_;
    auto* idle = new QTimer(socket);
    idle->setObjectName(QStringLiteral("idle"));
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start(idle_ms_);
    connect(socket, &QObject::destroyed, this, [this, socket] {
      --open_;
      pending_.remove(socket);
    });
    // Connected before the HTTP server's own handler, so it runs first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
      qint64& count = pending_[socket];
      count += socket->bytesAvailable();
      if (count > kMaxPendingBytes) {
        socket->readAll();
        socket->abort();
      }
    });
    addPendingConnection(socket);
  }

 private:
  int max_connections_;
  int idle_ms_;
  int open_ = 0;
  QHash<QTcpSocket*, qint64> pending_;
};

}  // namespace

bool is_private_or_loopback(const QHostAddress& address) {
  if (address.isNull()) return false;
  if (address.isLoopback()) return true;
  bool v4 = false;
  const quint32 ip = address.toIPv4Address(&v4);
  if (v4) {
    return (ip >> 24) == 10 || (ip >> 20) == ((172u << 4) | 1u) || (ip >> 16) == ((192u << 8) | 168u) ||
           (ip >> 16) == ((169u << 8) | 254u);
  }
  if (address.protocol() == QAbstractSocket::IPv6Protocol) {
    const Q_IPV6ADDR a = address.toIPv6Address();
    return (a[0] & 0xfe) == 0xfc || (a[0] == 0xfe && (a[1] & 0xc0) == 0x80);
  }
  return false;
}

QHostAddress choose_listen_address(const QString& requested, QString* error) {
  auto fail = [&](const QString& text) {
    if (error) *error = text;
    return QHostAddress();
  };
  if (requested == QLatin1String("loopback")) return QHostAddress(QHostAddress::LocalHost);
  const QList<QHostAddress> own = QNetworkInterface::allAddresses();
  if (requested.isEmpty()) {
    for (const QHostAddress& a : own) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && is_private_or_loopback(a)) return a;
    }
    return fail(QStringLiteral("this computer has no address on a private network; give one with --listen"));
  }
  QHostAddress wanted;
  if (!wanted.setAddress(requested)) return fail(QStringLiteral("\"%1\" is not a network address").arg(requested));
  if (wanted == QHostAddress(QHostAddress::Any) || wanted == QHostAddress(QHostAddress::AnyIPv6) ||
      wanted == QHostAddress(QHostAddress::AnyIPv4))
    return fail(QStringLiteral("listening on every address is refused; pick the shop network's address"));
  if (!is_private_or_loopback(wanted))
    return fail(QStringLiteral("%1 is a public address; the phone scanner listens only on a private network")
                    .arg(requested));
  if (!wanted.isLoopback() && !own.contains(wanted))
    return fail(QStringLiteral("%1 is not an address of this computer").arg(requested));
  return wanted;
}

class PhoneServer::Impl : public QAbstractHttpServer {
 public:
  Impl(PhoneServer& owner, Session& session, PhoneServerOptions options)
      : owner_(owner), session_(session), options_(std::move(options)), code_(new_code()) {}

  bool start(QString* error) {
    jet::dao::Database* scanner = Scanner_Database(session_);
    if (scanner == nullptr) {
      if (error) *error = QStringLiteral("the scanner database is not open");
      return false;
    }
    try {
      store_ = std::make_unique<PhoneStore>(*scanner);
    } catch (const jet::Error& e) {
      if (error) *error = QString::fromStdString(e.what());
      return false;
    }
    address_ = choose_listen_address(options_.address, error);
    if (address_.isNull()) return false;
    tcp_ = new GuardedTcpServer(options_.max_connections, options_.idle_connection_seconds, this);
    if (!tcp_->listen(address_, options_.port)) {
      if (error) *error = QStringLiteral("cannot listen on %1 port %2: %3")
                              .arg(address_.toString())
                              .arg(options_.port)
                              .arg(tcp_->errorString());
      delete tcp_;
      tcp_ = nullptr;
      return false;
    }
    bind(tcp_);
    opened_products_ = session_.products_database() == nullptr && Open_Orvex_DataBase(session_);
    return true;
  }

  void stop() {
    commit_pending();
    if (tcp_ != nullptr) tcp_->close();
    if (opened_products_) Close_Orvex_DataBase(session_);
    opened_products_ = false;
  }

  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    tcp_->request_done(socket);
    QHttpServerResponder responder = makeResponder(request, socket);
    const QString path = request.url().path();
    const auto method = request.method();
    if (!path.startsWith(QLatin1String("/api/"))) {
      if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head) {
        reply_error(responder, Status::MethodNotAllowed, "only GET serves the page");
        return true;
      }
      for (const PageFile& f : kPageFiles) {
        if (path == QLatin1String(f.path)) {
          serve_file(responder, f);
          return true;
        }
      }
      reply_error(responder, Status::NotFound, "no such page");
      return true;
    }
    const bool post = method == QHttpServerRequest::Method::Post;
    const qint64 limit = path == QLatin1String("/api/decode") ? kMaxPhotoBytes : kMaxJsonBytes;
    if (request.body().size() > limit) {
      reply_error(responder, Status::PayloadTooLarge, "the request is too large");
      return true;
    }
    if (path == QLatin1String("/api/pair") && post) {
      pair(request, responder);
      return true;
    }
    PhoneSession* phone = authorised(request);
    if (phone == nullptr) {
      reply_error(responder, Status::Unauthorized, "not paired, or the pairing has expired: pair again");
      return true;
    }
    if (path == QLatin1String("/api/scan") && post) {
      scan(*phone, request, responder, socket);
    } else if (path == QLatin1String("/api/undo") && post) {
      undo(*phone, request, responder);
    } else if (path == QLatin1String("/api/product") && method == QHttpServerRequest::Method::Get) {
      product(request, responder);
    } else if (path == QLatin1String("/api/decode") && post) {
      decode(request, responder);
    } else {
      reply_error(responder, Status::NotFound, "no such request");
    }
    return true;
  }

  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
    QHttpServerResponder responder = makeResponder(request, socket);
    reply_error(responder, Status::NotFound, "no such page");
  }

  // ---- replies ----
  static void reply(QHttpServerResponder& responder, Status status, const QByteArray& body, const QByteArray& type) {
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'self'; img-src 'self' data: blob:; media-src 'self' blob:; "
                          "object-src 'none'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
    responder.writeBody(body);
  }
  static void reply_json(QHttpServerResponder& responder, Status status, const QJsonObject& object) {
    reply(responder, status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json");
  }
  static void reply_error(QHttpServerResponder& responder, Status status, const QString& text) {
    reply_json(responder, status, QJsonObject{{"error", text}});
  }

  static void serve_file(QHttpServerResponder& responder, const PageFile& f) {
    QFile file(QString::fromLatin1(f.resource));
    if (!file.open(QIODevice::ReadOnly)) {
      reply_error(responder, Status::InternalServerError, "the page is missing from the program");
      return;
    }
    reply(responder, Status::Ok, file.readAll(), f.type);
  }

  // A JSON object body, or null with the error replied.
  static std::optional<QJsonObject> json_body(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    QJsonParseError problem{};
    const QJsonDocument doc = QJsonDocument::fromJson(request.body(), &problem);
    if (problem.error != QJsonParseError::NoError || !doc.isObject()) {
      reply_error(responder, Status::BadRequest, "the request is not a JSON object");
      return std::nullopt;
    }
    return doc.object();
  }

  // ---- pairing and sessions ----
  void pair(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now < locked_until_) {
      reply_error(responder, Status::TooManyRequests,
                  QStringLiteral("pairing is locked after wrong codes; try again in %1 s").arg(locked_until_ - now));
      return;
    }
    auto body = json_body(request, responder);
    if (!body) return;
    const QString code = body->value("code").toString();
    const QString phone = body->value("phone").toString();
    if (!valid_scan_id((phone + QStringLiteral(":1")).toStdString())) {
      reply_error(responder, Status::BadRequest, "the phone id must be 8 to 40 letters, digits, - or _");
      return;
    }
    if (!same_secret(code.toUtf8(), code_.toUtf8())) {
      if (++wrong_codes_ >= options_.wrong_codes_before_lock) {
        wrong_codes_ = 0;
        locked_until_ = now + options_.lock_seconds;
        // The code an attacker may have narrowed down is thrown away.
        code_ = new_code();
        emit owner_.pairing_code_changed(code_);
        emit owner_.pairing_locked(options_.lock_seconds);
      }
      reply_error(responder, Status::Forbidden, "wrong pairing code");
      return;
    }
    wrong_codes_ = 0;
    code_ = new_code();
    emit owner_.pairing_code_changed(code_);
    expire_sessions(now);
    if (sessions_.size() >= options_.max_sessions) {
      auto oldest = sessions_.begin();
      for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (it->last_seen < oldest->last_seen) oldest = it;
      }
      sessions_.erase(oldest);
    }
    const QString token = new_token();
    sessions_.insert(token, PhoneSession{phone, now, now});
    emit owner_.phone_paired(phone);
    QJsonArray kinds;
    for (const char* label : kKindLabels) kinds.append(QString::fromLatin1(label));
    reply_json(responder, Status::Ok,
               QJsonObject{{"token", token}, {"kinds", kinds}, {"idle_seconds", options_.session_idle_seconds}});
  }

  void expire_sessions(qint64 now) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (now - it->last_seen > options_.session_idle_seconds || now - it->created > options_.session_max_seconds) {
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }

  PhoneSession* authorised(const QHttpServerRequest& request) {
    const QByteArray header = request.value("Authorization");
    if (!header.startsWith("Bearer ")) return nullptr;
    const QString token = QString::fromLatin1(header.mid(7).trimmed());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    expire_sessions(now);
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return nullptr;
    it->last_seen = now;
    return &*it;
  }

  // The scan id must belong to the phone the token was given to.
  static bool owns_id(const PhoneSession& phone, const QString& id) {
    return id.startsWith(phone.phone + QLatin1Char(':'));
  }

  // ---- scans ----
  std::string product_description(const std::string& item) {
    jet::dao::Database* products = session_.products_database();
    if (products == nullptr) return {};
    try {
      auto rs = products->open_recordset(product_lookup_sql(item));
      std::string text = rs->eof() ? std::string() : Null_To_Text(rs->field("Description One"));
      rs->close();
      return text.size() > kMaxDescriptionLength ? text.substr(0, kMaxDescriptionLength) : text;
    } catch (const jet::Error&) {
      return {};
    }
  }

  void report_failure(QHttpServerResponder& responder, const jet::Error& e, const char* routine) {
    if (e.category() == jet::ErrorCategory::kInvalidArgument) {
      reply_error(responder, Status::BadRequest, QString::fromStdString(e.what()));
      return;
    }
    if (e.category() == jet::ErrorCategory::kNotFound || e.category() == jet::ErrorCategory::kConstraint) {
      reply_error(responder, Status::Conflict, QString::fromStdString(e.what()));
      return;
    }
    Error_Routine(session_, e.what(), routine);
    reply_error(responder, Status::ServiceUnavailable,
                QStringLiteral("the scan could not be saved; it stays on the phone: %1").arg(e.what()));
  }

  void scan(PhoneSession& phone, const QHttpServerRequest& request, QHttpServerResponder& responder,
            QTcpSocket* socket) {
    auto body = json_body(request, responder);
    if (!body) return;
    PhoneScan scan;
    const QJsonValue kind = body->value("kind"), qty = body->value("qty");
    if (!body->value("id").isString() || !body->value("item").isString() || !kind.isDouble() || !qty.isDouble() ||
        (body->contains("description") && !body->value("description").isString())) {
      reply_error(responder, Status::BadRequest, "a scan needs id and item (texts), kind and qty (numbers)");
      return;
    }
    const QString id = body->value("id").toString();
    if (!owns_id(phone, id)) {
      reply_error(responder, Status::Forbidden, "the scan id is not this phone's");
      return;
    }
    const double k = kind.toDouble();
    if (k != std::floor(k) || k < 0 || k > 5) {
      reply_error(responder, Status::BadRequest, "the kind must be one of 0 to 5");
      return;
    }
    scan.id = id.toStdString();
    scan.item = body->value("item").toString().toStdString();
    scan.kind = static_cast<int16_t>(k);
    scan.qty = qty.toDouble();
    scan.description = body->value("description").toString().toStdString();
    try {
      validate_scan(scan);
    } catch (const jet::Error& e) {
      reply_error(responder, Status::BadRequest, QString::fromStdString(e.what()));
      return;
    }
    // Scans wait for the next commit, which takes every scan that arrived
    // meanwhile; each is answered after it.
    pending_.push_back(PendingScan{phone.phone, std::move(scan), QPointer<QTcpSocket>(socket),
                                   std::move(responder)});
    if (!commit_scheduled_) {
      commit_scheduled_ = true;
      QTimer::singleShot(0, this, [this] { commit_pending(); });
    }
  }

  void commit_pending() {
    commit_scheduled_ = false;
    std::vector<PendingScan> batch;
    batch.swap(pending_);
    if (batch.empty()) return;
    std::vector<PhoneScan> scans;
    std::vector<std::string> descriptions;
    for (const PendingScan& p : batch) {
      scans.push_back(p.scan);
      descriptions.push_back(p.scan.description.empty() ? product_description(p.scan.item) : std::string());
    }
    std::vector<ApplyResult> results;
    try {
      results = store_->apply_all(scans, descriptions);
    } catch (const jet::Error& e) {
      Error_Routine(session_, e.what(), "Phone_Scan");
      for (PendingScan& p : batch) {
        if (p.socket.isNull()) continue;
        reply_error(p.responder, Status::ServiceUnavailable,
                    QStringLiteral("the scan could not be saved; it stays on the phone: %1").arg(e.what()));
      }
      return;
    }
    for (size_t i = 0; i < batch.size(); ++i) {
      PendingScan& p = batch[i];
      const ApplyResult& result = results[i];
      if (!result.duplicate) ++applied_;
      emit owner_.scan_received(ScanEvent{p.phone, QString::fromStdString(p.scan.item), p.scan.kind, p.scan.qty,
                                          result.row_qty, result.duplicate});
      // A phone that went away meanwhile gets its answer from its resend.
      if (p.socket.isNull()) continue;
      reply_json(p.responder, Status::Ok,
                 QJsonObject{{"id", QString::fromStdString(p.scan.id)},
                             {"duplicate", result.duplicate},
                             {"row_qty", result.row_qty}});
    }
  }

  void undo(PhoneSession& phone, const QHttpServerRequest& request, QHttpServerResponder& responder) {
    auto body = json_body(request, responder);
    if (!body) return;
    const QString id = body->value("id").toString(), of = body->value("scan").toString();
    if (!owns_id(phone, id) || !owns_id(phone, of)) {
      reply_error(responder, Status::Forbidden, "a phone takes back only its own scans, under its own ids");
      return;
    }
    try {
      const ApplyResult result = store_->undo(id.toStdString(), of.toStdString());
      emit owner_.scan_received(ScanEvent{phone.phone, QString::fromStdString(result.item), result.kind, 0,
                                          result.row_qty, result.duplicate});
      reply_json(responder, Status::Ok,
                 QJsonObject{{"id", id}, {"duplicate", result.duplicate}, {"row_qty", result.row_qty}});
    } catch (const jet::Error& e) {
      report_failure(responder, e, "Phone_Undo");
    }
  }

  void product(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    const std::string item = request.query().queryItemValue("item", QUrl::FullyDecoded).toStdString();
    if (item.empty() || item.size() > kMaxItemLength * 4) {
      reply_error(responder, Status::BadRequest, "give the item number");
      return;
    }
    jet::dao::Database* products = session_.products_database();
    if (products == nullptr) {
      reply_json(responder, Status::Ok, QJsonObject{{"found", false}, {"reason", "no products database"}});
      return;
    }
    try {
      auto rs = products->open_recordset(product_lookup_sql(item));
      QJsonObject out{{"found", !rs->eof()}};
      if (!rs->eof()) {
        out["description"] = QString::fromStdString(Null_To_Text(rs->field("Description One")));
        const jet::Value stock = rs->field("Inventory Qty");
        out["stock"] = jet::is_null(stock) ? QJsonValue() : QJsonValue(Null_To_Currency(stock).ten_thousandths / 10000.0);
      }
      rs->close();
      reply_json(responder, Status::Ok, out);
    } catch (const jet::Error& e) {
      reply_error(responder, Status::ServiceUnavailable, QString::fromStdString(e.what()));
    }
  }

  void decode(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    const DecodeResult result = decode_barcode(request.body());
    if (!result.error.empty()) {
      reply_error(responder, Status::UnprocessableEntity, QString::fromStdString(result.error));
      return;
    }
    reply_json(responder, Status::Ok,
               QJsonObject{{"text", QString::fromStdString(result.text)},
                           {"format", QString::fromStdString(result.format)}});
  }

  PhoneServer& owner_;
  Session& session_;
  PhoneServerOptions options_;
  QString code_;
  QHostAddress address_;
  GuardedTcpServer* tcp_ = nullptr;
  std::unique_ptr<PhoneStore> store_;
  QHash<QString, PhoneSession> sessions_;
  struct PendingScan {
    QString phone;
    PhoneScan scan;
    QPointer<QTcpSocket> socket;
    QHttpServerResponder responder;
  };
  std::vector<PendingScan> pending_;
  bool commit_scheduled_ = false;
  int wrong_codes_ = 0;
  qint64 locked_until_ = 0;
  long applied_ = 0;
  bool opened_products_ = false;
  friend class PhoneServer;
};

PhoneServer::PhoneServer(Session& session, PhoneServerOptions options, QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>(*this, session, std::move(options))) {
  register_page_resources();
}

PhoneServer::~PhoneServer() { stop(); }

bool PhoneServer::start(QString* error) { return impl_->start(error); }
void PhoneServer::stop() { impl_->stop(); }
bool PhoneServer::listening() const { return impl_->tcp_ != nullptr && impl_->tcp_->isListening(); }
QHostAddress PhoneServer::address() const { return impl_->address_; }
uint16_t PhoneServer::port() const { return impl_->tcp_ != nullptr ? impl_->tcp_->serverPort() : 0; }

QString PhoneServer::url() const {
  QString host = impl_->address_.toString();
  if (impl_->address_.protocol() == QAbstractSocket::IPv6Protocol) host = QLatin1Char('[') + host + QLatin1Char(']');
  return QStringLiteral("http://%1:%2/").arg(host).arg(port());
}
QString PhoneServer::pairing_url() const { return url() + QLatin1Char('#') + impl_->code_; }
QString PhoneServer::pairing_code() const { return impl_->code_; }
int PhoneServer::paired_phones() const { return static_cast<int>(impl_->sessions_.size()); }
long PhoneServer::scans_applied() const { return impl_->applied_; }

}  // namespace tallimo::phone
