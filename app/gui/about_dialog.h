// frm_About: the program's name and version, the maker's contact lines, a
// button that starts the system-information tool and a link to the maker's
// web site.
#pragma once

#include <QDialog>
#include <string>

#include "registry/registry_store.h"

class QLabel;
class QPushButton;

namespace tallimo::gui {

// "Version " + major.minor.revision of the build.
QString version_text();

// Reads one registry value into `value`: a string as it is, a 32-bit number
// as decimal digits. False (and `value` empty) when the key or the value is
// missing; a value of another type leaves `value` as it was.
bool GetKeyValue(const registry::Store& store, registry::Hive root, const std::string& key_name,
                 const std::string& value_name, std::string& value);

// Where the system-information tool is, by the two registry keys in turn;
// empty when neither names one.
std::string system_information_tool(const registry::Store& store);

class frm_About : public QDialog {
  Q_OBJECT

 public:
  explicit frm_About(QWidget* parent = nullptr);

  // Starts the system-information tool or says "System Information Is
  // Unavailable At This Time". Returns the started tool's path (empty when
  // none was started).
  std::string StartSysInfo();

  QLabel* version_label() const { return lblVersion_; }
  QPushButton* sys_info_button() const { return cmdSysInfo_; }

 private:
  QLabel* lblVersion_ = nullptr;
  QLabel* lblWrittenby_ = nullptr;
  QLabel* Web_Link_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdSysInfo_ = nullptr;
};

}  // namespace tallimo::gui
