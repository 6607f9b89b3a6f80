#include "app/handheld/palm_transfer.h"

#include <QEventLoop>
#include <QTimer>

#include "app/handheld/handheld_runs.h"
#include "app/handheld/templates.h"
#include "app/error_log.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo::handheld {

namespace {

PalmWindowRunner& window_runner() {
  static PalmWindowRunner runner;
  return runner;
}

}  // namespace

void set_palm_window_runner(PalmWindowRunner runner) { window_runner() = std::move(runner); }

PalmTransfer::PalmTransfer(Session& session, QObject* parent) : QObject(parent), session_(session) {
  connect(&control_, &VexFormsControl::Sync_Progress, this, &PalmTransfer::VexForms_Sync_Progress);
}

void PalmTransfer::load() {
  g_ = Initialise_Sync_Globals(session_);
  try {
    Ensure_Templates(session_);
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Frm_Vex_Forms");
  }
  if (!control_.listen()) Error_Routine(session_, control_.load_error(), "Frm_Vex_Forms");
}

void PalmTransfer::cmd_Close_Click() {
  status_ = true;
  unload();
}

void PalmTransfer::unload() {
  if (closed_) return;
  closed_ = true;
  emit unloaded();
}

void PalmTransfer::fetch(const std::string& template_path) {
  SyncGlobals& g = g_;
  QString path = QString::fromStdString(template_path), creator = QString::fromStdString(g.Creator_ID),
          library = QString::fromStdString(g.Device_Library);
  control_.Fetch_Table(path, creator, library, 0, 1, 0);
}

void PalmTransfer::send(const std::string& template_path) {
  SyncGlobals& g = g_;
  QString path = QString::fromStdString(template_path), creator = QString::fromStdString(g.Creator_ID),
          library = QString::fromStdString(g.Device_Library);
  last_sent_ = template_path;
  control_.Send_Table(path, creator, library, 0, 1, 0);
}

void PalmTransfer::VexForms_Sync_Progress(int32_t Stage, int32_t Result) {
  if (closed_) return;
  SyncGlobals& g = g_;
  if (control_.Sync_Creator_ID().toStdString() != g.Creator_ID) return;  // another application
  if (Stage == 2) {
    if (Result == 1) {
      status_colour_ = kStatusBlack;
      set_status(QStringLiteral("Ready"));
    } else {
      set_status(QStringLiteral("HotSync Failed."));
    }
    emit changed();  // the window repaints and stays open for a further HotSync
    return;
  }
  status_colour_ = kStatusRed;
  emit changed();
  if (Stage == 1) {
    last_sent_.clear();
    set_status(QStringLiteral("Getting data from Palm Device..."));
    fetch(g.AddNew_Template);
    return;
  }
  if (Stage != 3) return;
  if (Result == 0) {
    g.Sync_State = 1;
    return;
  }
  if (g.Sync_State >= 7 && g.Sync_State <= 13 && !last_sent_.empty()) {
    // The previous send arrived: the handheld's table holds the template's rows now.
    try {
      Mark_Template_Sent(last_sent_);
    } catch (const std::exception& e) {
      Error_Routine(session_, e.what(), "Frm_Vex_Forms");
    }
    last_sent_.clear();
  }
  // A failed import is reported and ends this HotSync's sequence like a failed step.
  auto import = [&](const std::string& path, int16_t kind, bool empty) {
    if (Import_Template(session_, g, path, kind, empty)) return true;
    g.Sync_State = 1;
    return false;
  };
  switch (g.Sync_State) {
    case 1:
      g.Sync_State = 2;
      close_visible_ = false;
      emit changed();
      if (import(g.AddNew_Template, 4, true)) fetch(g.ItemList_Template);
      break;
    case 2:
      g.Sync_State = 3;
      if (import(g.ItemList_Template, 5, full_sync_)) fetch(g.AddTo_Template);
      break;
    case 3:
      g.Sync_State = 4;
      if (import(g.AddTo_Template, 0, true)) fetch(g.Subtract_Template);
      break;
    case 4:
      g.Sync_State = 5;
      if (import(g.Subtract_Template, 1, true)) fetch(g.Replace_Template);
      break;
    case 5:
      g.Sync_State = 6;
      if (import(g.Replace_Template, 3, true)) fetch(g.Compare_Template);
      break;
    case 6:
      g.Sync_State = 7;
      if (!import(g.Compare_Template, 2, true)) break;
      // The compare rows and the emptied template are committed together; posting
      // follows, so a run killed at any moment neither loses nor doubles a count.
      if (full_sync_) {
        Process_Post(session_);
        set_status(QStringLiteral("Downloading data to Palm Device..."));
        if (!Build_Item_List(session_, g)) {
          g.Sync_State = 1;
          break;
        }
      }
      send(g.ItemList_Template);
      break;
    case 7:
      g.Sync_State = 8;
      send(g.AddNew_Template);
      break;
    case 8:
      g.Sync_State = 9;
      send(g.AddTo_Template);
      break;
    case 9:
      g.Sync_State = 10;
      send(g.Compare_Template);
      break;
    case 10:
      g.Sync_State = 11;
      send(g.Replace_Template);
      break;
    case 11:
      g.Sync_State = 12;
      send(g.Subtract_Template);
      break;
    case 12:
      g.Sync_State = 13;
      send(g.Ordered_Template);
      break;
    case 13:
      unload();
      break;
    default:
      break;
  }
}

void Synchronize_Palm(Session& session, bool& Full_Sync) {
  {
    PalmTransfer form(session);
    form.Set_Mode(Full_Sync);
    form.load();
    if (window_runner()) {
      window_runner()(form);
    } else {
      QEventLoop loop;
      QObject::connect(&form, &PalmTransfer::unloaded, &loop, &QEventLoop::quit);
      // No window shows the status pane: its texts go to the status line.
      QString shown;
      QObject::connect(&form, &PalmTransfer::changed, &form, [&form, &session, &shown]() {
        if (form.StatusPane() == shown) return;
        shown = form.StatusPane();
        session.ui().Display_Status_Message(shown.toStdString());
      });
      // Headless: "&Abort" (or Ctrl-C in the command line) closes the transfer.
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, &form, [&form, &session]() {
        session.ui().do_events();
        if (session.abort_requested()) form.cmd_Close_Click();
      });
      poll.start(50);
      if (!form.closed()) loop.exec();
    }
    (void)form.Status();
  }
  if (session.abort_requested()) session.ui().Display_Status_Message("Waiting User Command");
}

}  // namespace tallimo::handheld
