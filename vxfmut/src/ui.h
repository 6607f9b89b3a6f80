// The library's door to the screen: when dialogs may run, when message boxes may be
// shown, and the application object they need. See "Display rule" in vxfmut.h.
#pragma once

#include <string>

class QApplication;

namespace vxfmut {

// QT_QPA_PLATFORM set (for xcb with DISPLAY, for wayland with WAYLAND_DISPLAY), or,
// without it, DISPLAY or WAYLAND_DISPLAY set; empty values count as unset.
bool has_display();

// has_display() and the platform is not "offscreen" or "minimal" (someone can press OK).
bool message_boxes_visible();

// The QApplication dialogs run in: the host's, or one the library creates. Null without
// a display or when the host made a QCoreApplication only.
QApplication* widget_application();

// Makes sure some application object (and so an event loop) exists. False when none
// can be made (not on the main thread of a process without one).
bool ensure_application();

// A message box with an OK button titled "Vexel Forms", or one line on stderr.
// `at_load`: the library is being loaded, always stderr.
void show_message(const std::string& text, bool at_load = false);

// Forgets an application object the library created (at unload); see ui.cc.
void release_application();

}  // namespace vxfmut
