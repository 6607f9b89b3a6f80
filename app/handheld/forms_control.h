// The forms-runtime control: the desktop side of the handheld forms runtime, as the
// program hosts it (one instance on the Palm transfer window, one on the main window
// for Windows Mobile copies). Qt Core only.
//
// Palm: Fetch_Table and Send_Table become commands in VxFmUt60's shared command queue;
// the HotSync conduit answers through VxFmUt60's registered message (see
// hotsync_protocol.h), which this control turns into Sync_Progress events. The control
// converts between the template's VFTable and the .PDB file the conduit moves (see
// pdb_convert.h). VxFmUt60 is loaded by name when the first Palm member is used: the
// file $TALLIMO_VXFMUT_LIBRARY names, else libVxFmUt60.so beside the program, else the
// library search path.
//
// Windows Mobile: the handheld is a folder (a mounted device, or any folder); see
// device_folder(). Handheld paths such as "\my documents\tallimo\EQTL70100_ADDNEW.PDB" are
// resolved below it one name at a time without regard to letter case.
//
// FileGetFromPPC / FileSendToPPC results:
//   0  copied
//   1  the device folder does not exist
//   2  the handheld file (or a folder on its path) does not exist
//   3  the desktop file cannot be read, or the copy cannot be written
//   4  the handheld path is not a plain path below the device (empty, or "." / "..")
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace tallimo {
class Session;
}

namespace tallimo::handheld {

inline constexpr int32_t kCopyOk = 0;
inline constexpr int32_t kCopyNoDevice = 1;
inline constexpr int32_t kCopyNoHandheldFile = 2;
inline constexpr int32_t kCopyFailed = 3;
inline constexpr int32_t kCopyBadPath = 4;

// The Windows Mobile device folder: the setting "Handheld_Folder" (group "Preferences"
// of the program's settings store) when it is not empty, else the session's application
// folder + "Windows Mobile Device/".
std::string device_folder(const Session& session);

class VexFormsControl : public QObject {
  Q_OBJECT

 public:
  // The device folder starts empty (set_device_folder); the runs set device_folder().
  explicit VexFormsControl(QObject* parent = nullptr);
  ~VexFormsControl() override;

  // ---- Palm ----
  // Opens the control's message target so that the conduit can reach it. False when
  // VxFmUt60 cannot be loaded (the reason is in load_error()).
  bool listen();
  const std::string& load_error() const { return load_error_; }
  // The creator of the application being synchronised (VxFmUt60's shared creator ID).
  QString Sync_Creator_ID() const;
  void Fetch_Table(QString& desktop_database, QString& creator, QString& library, int32_t value1,
                   uint8_t value2, uint8_t value3);
  void Send_Table(QString& desktop_database, QString& creator, QString& library, int32_t value1, uint8_t value2,
                  uint8_t value3);

  // ---- Windows Mobile ----
  void set_device_folder(const std::string& folder) { device_ = folder; }
  const std::string& device_folder_in_use() const { return device_; }
  int32_t FileGetFromPPC(const QString& desktop_file, const QString& handheld_file);
  int32_t FileSendToPPC(const QString& desktop_file, const QString& handheld_file);

 signals:
  void Sync_Progress(int32_t Stage, int32_t Result);

 private:
  struct Library;
  struct Request {
    bool fetch;
    std::string template_path;
    std::string creator;
  };
  bool load();
  void request(bool fetch, const QString& desktop_database, const QString& creator, const QString& library,
               int32_t value1, uint8_t value2, uint8_t value3);
  void on_message(uint64_t code, int64_t value);
  static void post(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam);

  std::unique_ptr<Library> library_;
  std::string load_error_;
  std::deque<Request> pending_;
  std::string device_;
};

}  // namespace tallimo::handheld
