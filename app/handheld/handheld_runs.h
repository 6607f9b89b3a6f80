// The handheld runs, one entry function each, for the command centre ("&Read Scanner"
// passes Full_Sync false, "&Synchronize" true) and for the headless command line.
#pragma once

#include <functional>
#include <string>

namespace tallimo {
class Session;
}

namespace tallimo::handheld {

class VexFormsControl;

// Dispatch by the "Scanner" setting, compared exactly: "Orvex R50 Scanner" runs the
// infrared run registered with set_infrared_run (nothing when none is registered),
// "Palm Barcode Scanner" Synchronize_Palm, "Windows Mobile Scanner"
// Synchronize_Windows_Mobile; any other value does nothing.
// The infrared run is registered once at start-up by the program (it lives in app/ir).
void Synchronize_Handheld(Session& session, bool& Full_Sync);
void set_infrared_run(std::function<void(Session&, bool&)> run);

// The Windows Mobile transfer, in one pass, copying through `vexformsPPC` (the main
// window's control; null: a control of the run's own over device_folder(session)).
void Synchronize_Windows_Mobile(Session& session, bool& Full_Sync, VexFormsControl* vexformsPPC = nullptr);

// The Palm transfer: shows the transfer window (see palm_transfer.h) modally and
// returns when it has closed.
void Synchronize_Palm(Session& session, bool& Full_Sync);

}  // namespace tallimo::handheld
