#include "app/gui/about_dialog.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/gui/logo.h"

#ifndef TALLIMO_VERSION_MAJOR
#error "the build passes the program's version (TALLIMO_VERSION_MAJOR/MINOR/PATCH)"
#endif

namespace tallimo::gui {
namespace {

constexpr const char* kWebSite = "https://tallimo.example.org/";
// The maker's contact block: each line preceded by a line break.
constexpr const char* kMakerLines =
    "\r\nTallimo Stock Systems"
    "\r\n14 Harbour Lane"
    "\r\nPortview 4021"
    "\r\nTel. +1 555 0134 200"
    "\r\nsupport@tallimo.example.org";

}  // namespace

QString version_text() {
  return QString("Version %1.%2.%3").arg(TALLIMO_VERSION_MAJOR).arg(TALLIMO_VERSION_MINOR).arg(TALLIMO_VERSION_PATCH);
}

bool GetKeyValue(const registry::Store& store, registry::Hive root, const std::string& key_name,
                 const std::string& value_name, std::string& value) {
  std::optional<registry::Key> key;
  try {
    key = store.open_key(root, key_name);
  } catch (const std::exception&) {
    // A damaged hive file reads as a missing key: the About box never fails.
    key.reset();
  }
  if (!key) {
    value.clear();
    return false;
  }
  if (auto text = key->query_string(value_name)) {
    std::string v = *text;
    if (!v.empty() && v.back() == '\0') v.pop_back();
    value = v;
    return true;
  }
  if (auto number = key->query_dword(value_name)) {
    value = std::to_string(*number);
    return true;
  }
  value.clear();
  return false;
}

std::string system_information_tool(const registry::Store& store) {
  std::string path;
  if (GetKeyValue(store, registry::Hive::kLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path))
    return path;
  std::string folder;
  if (GetKeyValue(store, registry::Hive::kLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO",
                  folder)) {
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    const std::string tool = folder + "/MSINFO32.EXE";
    if (QFileInfo(QString::fromStdString(tool)).isFile()) return tool;
  }
  return {};
}

frm_About::frm_About(QWidget* parent) : QDialog(parent) {
  setObjectName("frm_About");
  setWindowTitle("Tallimo");
  auto* row = new QHBoxLayout(this);
  auto* logo = new QLabel(this);
  logo->setPixmap(tallimo_logo(64));
  row->addWidget(logo, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  auto* name = new QLabel("<b style='font-size:14pt'>Tallimo</b>", this);
  column->addWidget(name);
  lblVersion_ = new QLabel(version_text(), this);
  lblVersion_->setObjectName("lblVersion");
  column->addWidget(lblVersion_);
  lblWrittenby_ = new QLabel(QString(kMakerLines).replace("\r\n", "\n"), this);
  lblWrittenby_->setObjectName("lblWrittenby");
  column->addWidget(lblWrittenby_);
  Web_Link_ = new QLabel(QString("<a href='%1'>%1</a>").arg(kWebSite), this);
  Web_Link_->setObjectName("Web_Link");
  Web_Link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(Web_Link_, &QLabel::linkActivated, this, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
  column->addWidget(Web_Link_);
  column->addStretch(1);
  row->addLayout(column, 1);
  auto* buttons = new QVBoxLayout;
  cmdOK_ = new QPushButton("OK", this);
  cmdOK_->setObjectName("cmdOK");
  cmdOK_->setDefault(true);
  cmdSysInfo_ = new QPushButton("&System Info...", this);
  cmdSysInfo_->setObjectName("cmdSysInfo");
  buttons->addWidget(cmdOK_);
  buttons->addWidget(cmdSysInfo_);
  buttons->addStretch(1);
  row->addLayout(buttons);
  connect(cmdOK_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cmdSysInfo_, &QPushButton::clicked, this, [this] { StartSysInfo(); });
}

std::string frm_About::StartSysInfo() {
  std::string tool;
  try {
    tool = system_information_tool(registry::Store::open_default());
  } catch (const std::exception&) {
    tool.clear();
  }
  if (tool.empty() || !QProcess::startDetached(QString::fromStdString(tool), {})) {
    QMessageBox box(QMessageBox::NoIcon, "Tallimo", "System Information Is Unavailable At This Time", QMessageBox::Ok,
                    this);
    box.exec();
    return {};
  }
  return tool;
}

}  // namespace tallimo::gui
