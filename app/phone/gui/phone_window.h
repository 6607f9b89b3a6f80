// The phone scanner's pairing window, opened by "&Read Scanner" (and
// "&Synchronize") when the Scanner setting is "Phone Scanner": the QR code of the
// page's address with the pairing code, the address and code as text for typing,
// the network to listen on, the phones paired and the scans as they arrive. The
// grid is refreshed after every scan. Closing the window stops the server.
#pragma once

#include <QDialog>
#include <memory>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tallimo {
class Session;
}

namespace tallimo::phone {

class PhoneServer;
struct ScanEvent;

class PhoneWindow : public QDialog {
  Q_OBJECT
 public:
  explicit PhoneWindow(Session& session, QWidget* parent = nullptr);
  ~PhoneWindow() override;

  // Listens on the address chosen in the list; false (with the reason shown in
  // the window) when it cannot.
  bool start_server();
  PhoneServer* server() const { return server_.get(); }
  QLabel* code_label() const { return code_; }
  QLabel* address_label() const { return address_; }
  QListWidget* scan_list() const { return scans_; }

 private:
  void show_pairing();
  void scan_arrived(const ScanEvent& event);

  Session& session_;
  std::unique_ptr<PhoneServer> server_;
  QComboBox* network_ = nullptr;
  QLabel* qr_ = nullptr;
  QLabel* address_ = nullptr;
  QLabel* code_ = nullptr;
  QLabel* state_ = nullptr;
  QListWidget* phones_ = nullptr;
  QListWidget* scans_ = nullptr;
  QPushButton* close_ = nullptr;
};

// "&Read Scanner" / "&Synchronize" with the phone scanner: the pairing window,
// modal, until the user closes it; with Full_Sync the posting follows.
void Synchronize_Phone(Session& session, bool Full_Sync, QWidget* parent);

}  // namespace tallimo::phone
