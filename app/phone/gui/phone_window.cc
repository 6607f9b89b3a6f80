#include "app/phone/gui/phone_window.h"

#include <QComboBox>
#include <QFont>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QNetworkInterface>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/phone/barcode.h"
#include "app/phone/phone_server.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo::phone {

PhoneWindow::PhoneWindow(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
  setWindowTitle(QStringLiteral("Phone Scanner"));
  auto* layout = new QHBoxLayout(this);

  auto* left = new QVBoxLayout;
  qr_ = new QLabel;
  qr_->setFixedSize(260, 260);
  qr_->setAlignment(Qt::AlignCenter);
  left->addWidget(qr_);
  auto* form = new QFormLayout;
  network_ = new QComboBox;
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && is_private_or_loopback(a))
      network_->addItem(a.toString(), a.toString());
  }
  network_->addItem(QStringLiteral("This computer only (127.0.0.1)"), QStringLiteral("loopback"));
  form->addRow(QStringLiteral("Network:"), network_);
  address_ = new QLabel;
  address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(QStringLiteral("Address:"), address_);
  code_ = new QLabel;
  QFont big = code_->font();
  big.setPointSize(big.pointSize() * 2);
  big.setBold(true);
  big.setLetterSpacing(QFont::AbsoluteSpacing, 4);
  code_->setFont(big);
  form->addRow(QStringLiteral("Pairing code:"), code_);
  left->addLayout(form);
  state_ = new QLabel;
  state_->setWordWrap(true);
  left->addWidget(state_);
  left->addStretch();
  layout->addLayout(left);

  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(QStringLiteral("Phones paired:")));
  phones_ = new QListWidget;
  phones_->setMaximumHeight(90);
  right->addWidget(phones_);
  right->addWidget(new QLabel(QStringLiteral("Scans:")));
  scans_ = new QListWidget;
  right->addWidget(scans_);
  close_ = new QPushButton(QStringLiteral("&Close"));
  right->addWidget(close_, 0, Qt::AlignRight);
  layout->addLayout(right, 1);
  resize(720, 420);

  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(network_, &QComboBox::currentIndexChanged, this, [this] { start_server(); });
}

PhoneWindow::~PhoneWindow() = default;

bool PhoneWindow::start_server() {
  server_.reset();
  PhoneServerOptions options;
  options.address = network_->currentData().toString();
  auto server = std::make_unique<PhoneServer>(session_, options);
  QString error;
  if (!server->start(&error)) {
    options.port = 0;  // the usual port is taken: any free one
    server = std::make_unique<PhoneServer>(session_, options);
    QString again;
    if (!server->start(&again)) {
      qr_->clear();
      address_->clear();
      code_->clear();
      state_->setText(QStringLiteral("The phone scanner cannot start: %1").arg(error));
      return false;
    }
  }
  server_ = std::move(server);
  connect(server_.get(), &PhoneServer::pairing_code_changed, this, [this] { show_pairing(); });
  connect(server_.get(), &PhoneServer::phone_paired, this, [this](const QString& phone) {
    phones_->addItem(phone);
    state_->setText(QStringLiteral("A phone paired. The next phone uses the new code."));
  });
  connect(server_.get(), &PhoneServer::pairing_locked, this, [this](int seconds) {
    state_->setText(QStringLiteral("Too many wrong codes: pairing is locked for %1 minutes.").arg(seconds / 60));
  });
  connect(server_.get(), &PhoneServer::scan_received, this, &PhoneWindow::scan_arrived);
  state_->setText(QStringLiteral("On the phone, scan the code or open the address and type the pairing code."));
  show_pairing();
  return true;
}

void PhoneWindow::show_pairing() {
  if (!server_) return;
  address_->setText(server_->url());
  code_->setText(server_->pairing_code());
  const QImage qr = render_barcode(server_->pairing_url().toStdString(), "QRCode", 250, 250);
  qr_->setPixmap(QPixmap::fromImage(qr));
}

void PhoneWindow::scan_arrived(const ScanEvent& e) {
  const QString kind = e.kind >= 0 && e.kind < 6 ? QString::fromLatin1(kKindLabels[e.kind]) : QString::number(e.kind);
  QString text;
  if (e.qty == 0 && e.row_qty >= 0 && !e.duplicate) {
    text = QStringLiteral("%1  %2  now %3").arg(e.item, kind).arg(e.row_qty);
  } else {
    text = QStringLiteral("%1  %2  +%3  (total %4)%5")
               .arg(e.item, kind)
               .arg(e.qty)
               .arg(e.row_qty)
               .arg(e.duplicate ? QStringLiteral("  resent") : QString());
  }
  scans_->insertItem(0, text);
  if (scans_->count() > 500) delete scans_->takeItem(scans_->count() - 1);
  if (!e.duplicate) session_.ui().refresh_grid();
}

void Synchronize_Phone(Session& session, bool Full_Sync, QWidget* parent) {
  session.set_abort(false);
  {
    // The window and its server (and the products database it holds open for the
    // phones' look-ups) are gone before the posting opens that database itself.
    PhoneWindow window(session, parent);
    window.start_server();
    window.exec();
  }
  if (Full_Sync && !session.abort_requested()) Process_Post(session);
}

}  // namespace tallimo::phone
