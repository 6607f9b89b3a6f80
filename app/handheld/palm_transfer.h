// The Palm transfer window's logic (Frm_Vex_Forms, "Palm Pilot Data Transfer"), without
// widgets: the status pane, the Close button, the thirteen-step sequence driven by the
// control's Sync_Progress events. The widget window (app/handheld/gui) shows this object
// and forwards the Close button; headless runs use it directly.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "app/handheld/forms_control.h"
#include "app/handheld/templates.h"

namespace tallimo {
class Session;
}

namespace tallimo::handheld {

inline constexpr uint32_t kStatusBlack = 0;
inline constexpr uint32_t kStatusRed = 255;

class PalmTransfer : public QObject {
  Q_OBJECT

 public:
  explicit PalmTransfer(Session& session, QObject* parent = nullptr);

  // Window load: the globals as the Data model says; the control starts listening.
  void load();

  void Set_Mode(bool full_sync) { full_sync_ = full_sync; }
  bool Status() const { return status_; }

  QString StatusPane() const { return status_text_; }
  uint32_t StatusPane_ForeColor() const { return status_colour_; }
  bool cmd_Close_Visible() const { return close_visible_; }
  bool closed() const { return closed_; }
  VexFormsControl& VexForms() { return control_; }

  // The Close button: Status becomes True and the window unloads.
  void cmd_Close_Click();

  // The control's event.
  void VexForms_Sync_Progress(int32_t Stage, int32_t Result);

 signals:
  void changed();    // status text, colour or Close button changed (repaint)
  void unloaded();   // the window closes

 private:
  void unload();
  void fetch(const std::string& template_path);
  void send(const std::string& template_path);
  void set_status(const QString& text) {
    status_text_ = text;
    emit changed();
  }

  Session& session_;
  SyncGlobals g_;
  VexFormsControl control_;
  std::string last_sent_;  // template of the send awaiting its result
  bool full_sync_ = false;
  bool status_ = false;
  bool closed_ = false;
  bool close_visible_ = true;
  QString status_text_ = QStringLiteral("Ready");
  uint32_t status_colour_ = kStatusBlack;
};

// Shows the transfer modally and returns when it has unloaded. Installed by the desktop
// window (app/handheld/gui); without one, Synchronize_Palm runs the transfer on an event
// loop until it unloads or "&Abort" is pressed.
using PalmWindowRunner = std::function<void(PalmTransfer&)>;
void set_palm_window_runner(PalmWindowRunner runner);

}  // namespace tallimo::handheld
