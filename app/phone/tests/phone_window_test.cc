// The pairing window: its QR code carries the address and the current code, a phone
// that pairs and scans shows up in it, and the grid is refreshed for every scan.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include "app/data/scanner_database.h"
#include "app/ir/ir_runs.h"
#include "app/phone/barcode.h"
#include "app/phone/gui/phone_window.h"
#include "app/phone/phone_server.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

class PhoneWindowTest : public ShopTest {};

QJsonObject send_json(QNetworkAccessManager& net, const QString& url, const QJsonObject& body, const QByteArray& token) {
  QNetworkRequest request{QUrl(url)};
  request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
  if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
  QNetworkReply* reply = net.post(request, QJsonDocument(body).toJson());
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
  const QJsonObject out = QJsonDocument::fromJson(reply->readAll()).object();
  reply->deleteLater();
  return out;
}

TEST_F(PhoneWindowTest, ThePairingWindowShowsTheCodeAndTheScansAsTheyArrive) {
  make_shop({product("A1", 7, "Widget")}, {});
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  {
    phone::PhoneWindow window(session());
    auto* network = window.findChild<QComboBox*>();
    ASSERT_NE(network, nullptr);
    network->setCurrentIndex(network->findData("loopback"));
    ASSERT_TRUE(window.start_server());
    ASSERT_NE(window.server(), nullptr);
    ASSERT_TRUE(window.server()->listening());
    window.show();

    const QString code = window.code_label()->text();
    EXPECT_EQ(code.size(), 6);
    EXPECT_EQ(window.address_label()->text(), window.server()->url());
    // The QR code, read back, is the address with the code.
    const QImage qr = window.findChildren<QLabel*>().front()->pixmap().toImage();
    EXPECT_EQ(phone::decode_barcode(qr).text, window.server()->pairing_url().toStdString());

    QNetworkAccessManager net;
    const QString url = window.server()->url();
    const QByteArray token =
        send_json(net, url + "api/pair", {{"code", code}, {"phone", "window-phone-1"}}, {}).value("token").toString().toLatin1();
    ASSERT_FALSE(token.isEmpty());
    EXPECT_NE(window.code_label()->text(), code) << "the window shows the next code";
    send_json(net, url + "api/scan", {{"id", "window-phone-1:1"}, {"item", "A1"}, {"kind", 2}, {"qty", 3}}, token);
    send_json(net, url + "api/scan", {{"id", "window-phone-1:1"}, {"item", "A1"}, {"kind", 2}, {"qty", 3}}, token);
    auto lists = window.findChildren<QListWidget*>();
    ASSERT_EQ(lists.size(), 2);
    EXPECT_EQ(lists[0]->count(), 1);
    ASSERT_EQ(window.scan_list()->count(), 2);
    EXPECT_TRUE(window.scan_list()->item(0)->text().contains("resent"));
    EXPECT_TRUE(window.scan_list()->item(1)->text().contains("Compare Inventory"));
    EXPECT_EQ(ui_.grid_refreshes, 1);  // the resend changed nothing
    const char* shots = std::getenv("TALLIMO_PHONE_SCREENSHOTS");
    if (shots != nullptr) {
      QDir().mkpath(shots);
      window.grab().save(QString::fromLocal8Bit(shots) + "/pairing-window.png");
    }
  }
  Close_Scanner_Data_File(session());
  ASSERT_EQ(scanner_data().size(), 1u);
}

TEST_F(PhoneWindowTest, ThePhoneScannerSettingDispatchesToThePhoneRun) {
  session().settings().Scanner = kScannerPhone;
  int runs = 0;
  bool full = false;
  HandheldRuns handheld;
  handheld.phone = [&](Session&, bool f) {
    ++runs;
    full = f;
  };
  EXPECT_TRUE(Synchronize_Handheld(session(), true, handheld));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(full);
  session().settings().Scanner = "Phone scanner";  // compared exactly
  EXPECT_FALSE(Synchronize_Handheld(session(), false, handheld));
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace tallimo::testing

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
