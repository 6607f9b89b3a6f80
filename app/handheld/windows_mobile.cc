// The Windows Mobile transfer: fetch six handheld tables through the control, convert
// them into the templates, copy their rows into Scanner_Data, optionally post and build
// the product list, then convert seven templates back and send them to the handheld.
#include <filesystem>

#include "app/handheld/converter_runner.h"
#include "app/handheld/forms_control.h"
#include "app/handheld/handheld_runs.h"
#include "app/handheld/pdb_convert.h"
#include "app/handheld/templates.h"
#include "app/error_log.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/posting/posting.h"
#include "app/user_interface.h"

namespace tallimo::handheld {

namespace {

constexpr const char* kHandheldFolder = "\\my documents\\tallimo\\";

struct Step {
  const std::string SyncGlobals::*template_path;
  const char* file;  // the table's file name, spelt as it is asked for
  int16_t kind;
};

// Fetch order and names.
const Step kFetch[] = {
    {&SyncGlobals::AddNew_Template, "EQTL70100_ADDNEW.PDB", 4},
    {&SyncGlobals::ItemList_Template, "EQTL70100_ItemList.PDB", 5},
    {&SyncGlobals::AddTo_Template, "EQTL70100_ADDTO.PDB", 0},
    {&SyncGlobals::Subtract_Template, "EQTL70100_SUBTRACT.PDB", 1},
    {&SyncGlobals::Replace_Template, "EQTL70100_REPLACE.PDB", 3},
    {&SyncGlobals::Compare_Template, "EQTL70100_COMPARE.PDB", 2},
};

// Send order and names.
const Step kSend[] = {
    {&SyncGlobals::ItemList_Template, "EQTL70100_ITEMLIST.PDB", 5},
    {&SyncGlobals::AddNew_Template, "EQTL70100_ADDNEW.PDB", 4},
    {&SyncGlobals::AddTo_Template, "EQTL70100_ADDTO.PDB", 0},
    {&SyncGlobals::Compare_Template, "EQTL70100_COMPARE.PDB", 2},
    {&SyncGlobals::Replace_Template, "EQTL70100_REPLACE.PDB", 3},
    {&SyncGlobals::Subtract_Template, "EQTL70100_SUBTRACT.PDB", 1},
    {&SyncGlobals::Ordered_Template, "EQTL70100_ORDERED.PDB", -1},
};

std::function<void(Session&, bool&)>& infrared_run() {
  static std::function<void(Session&, bool&)> run;
  return run;
}

void message(Session& session, const std::string& text) {
  session.ui().message_box(text, MessageButtons::kOk, MessageIcon::kNone, "Tallimo");
}

void run_windows_mobile(Session& session, bool Full_Sync, VexFormsControl& control) {
  SyncGlobals g = Initialise_Sync_Globals(session);
  try {
    Ensure_Templates(session);
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Synchronize_Windows_Mobile");
    return;
  }
  std::string folder = support_folder(session);
  for (const Step& step : kFetch) {
    const std::string& template_path = g.*step.template_path;
    std::string desktop = folder + step.file;
    std::string handheld = std::string(kHandheldFolder) + step.file;
    int32_t result = control.FileGetFromPPC(QString::fromStdString(desktop), QString::fromStdString(handheld));
    if (result != 0) {
      message(session, "ERROR #" + std::to_string(result) + ": Downloading " + handheld + " from PDA");
      return;
    }
    int16_t converted = VFConvertPDB(session, "-PDBtoPC", template_path);
    if (converted != 0) {
      message(session, "ERROR " + std::to_string(converted) + " converting " + template_path + " on PC");
    }
    if (session.abort_requested()) return;
    // The item list keeps its rows unless this is a full synchronisation.
    bool empty = step.kind != 5 || Full_Sync;
    if (!Import_Template(session, g, template_path, step.kind, empty)) return;  // reported; the transfer ends
    // The compare rows are in Scanner_Data and the template is empty (one commit):
    // posting now can neither lose nor double a count, whenever the run is killed.
    if (step.kind == 2 && Full_Sync) Process_Post(session);
    if (session.abort_requested()) return;
  }
  if (Full_Sync && !Build_Item_List(session, g)) return;
  for (const Step& step : kSend) {
    const std::string& template_path = g.*step.template_path;
    std::string desktop = folder + step.file;
    int16_t converted = VFConvertPDB(session, "-PCtoPDB", template_path);
    if (converted != 0) {
      message(session, "ERROR " + std::to_string(converted) + " converting " + template_path + " to " + desktop +
                         " on PC");
    }
    std::string handheld = std::string(kHandheldFolder) + step.file;
    int32_t result = control.FileSendToPPC(QString::fromStdString(desktop), QString::fromStdString(handheld));
    if (result != 0) {
      message(session, "ERROR #" + std::to_string(result) + ": Downloading " + desktop + " from PC to PDA");
      return;
    }
    // The handheld's table is now the template's rows (unless an older desktop copy went
    // because the conversion failed): later imports skip them.
    if (converted == 0) {
      try {
        Mark_Template_Sent(template_path);
      } catch (const std::exception& e) {
        Error_Routine(session, e.what(), "Synchronize_Windows_Mobile");
      }
    }
    if (session.abort_requested()) return;
  }
}

}  // namespace

void set_infrared_run(std::function<void(Session&, bool&)> run) { infrared_run() = std::move(run); }

void Synchronize_Windows_Mobile(Session& session, bool& Full_Sync, VexFormsControl* vexformsPPC) {
  if (vexformsPPC) {
    run_windows_mobile(session, Full_Sync, *vexformsPPC);
  } else {
    VexFormsControl own;
    own.set_device_folder(device_folder(session));
    run_windows_mobile(session, Full_Sync, own);
  }
}

void Synchronize_Handheld(Session& session, bool& Full_Sync) {
  const std::string& kind = session.settings().Scanner;
  if (kind == kScannerOrvexR50) {
    if (infrared_run()) infrared_run()(session, Full_Sync);
  } else if (kind == kScannerPalm) {
    Synchronize_Palm(session, Full_Sync);
  } else if (kind == kScannerWindowsMobile) {
    Synchronize_Windows_Mobile(session, Full_Sync);
  }
}

}  // namespace tallimo::handheld
