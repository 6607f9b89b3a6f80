#include "ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vxfmut {

namespace {

bool set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

QCoreApplication* owned_application = nullptr;

// QApplication keeps a reference to argc and the argv array for its lifetime.
int app_argc = 1;
char app_name[] = "VxFmUt60";
char* app_argv[] = {app_name, nullptr};

}  // namespace

bool has_display() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) {
    // A platform that needs a server needs its address too; Qt aborts the process
    // when it cannot connect.
    if (std::strncmp(platform, "xcb", 3) == 0) return set("DISPLAY");
    if (std::strncmp(platform, "wayland", 7) == 0) return set("WAYLAND_DISPLAY");
    return true;
  }
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

bool message_boxes_visible() {
  if (!has_display()) return false;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform) return true;
  return std::strncmp(platform, "offscreen", 9) != 0 && std::strncmp(platform, "minimal", 7) != 0;
}

bool ensure_application() {
  if (QCoreApplication::instance()) return true;
  if (has_display()) {
    owned_application = new QApplication(app_argc, app_argv);
  } else {
    owned_application = new QCoreApplication(app_argc, app_argv);
  }
  return true;
}

QApplication* widget_application() {
  if (!has_display()) return nullptr;
  ensure_application();
  return qobject_cast<QApplication*>(QCoreApplication::instance());
}

void show_message(const std::string& text, bool at_load) {
  if (!at_load && message_boxes_visible() && widget_application()) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vexel Forms"), QString::fromLocal8Bit(text),
                    QMessageBox::Ok);
    box.exec();
    return;
  }
  // One line per box: line breaks inside the text become " / ".
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() != ' ') line += " / ";
    } else {
      line.push_back(c);
    }
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void release_application() {
  // An application object the library made is left to the end of the process: deleting
  // it while the process exits runs into Qt's already destroyed globals and crashes.
  // Only dialogs and targets need it, and none outlives an export call or the process.
  owned_application = nullptr;
}

}  // namespace vxfmut
