// The library's two dialogs: Wait_Dialog (VF_FlushCommandQueueEx) and the user
// maintenance dialog (VF_UserMaintenance).
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shared_block.h"
#include "ui.h"
#include "vxfmut/vxfmut.h"

namespace vxfmut {

namespace {

constexpr const char* kDefaultCaption = "HotSync with Handheld";
constexpr const char* kReadyText = "Ready to synchronize with Handheld.";
constexpr const char* kPressText = "Press the HotSync button on the cradle to begin.";

constexpr uintptr_t kCodeCompleted = 2;
constexpr uintptr_t kCodeResult = 3;

// What the conduit reported so far: completion (code 2) and the combined code-3 results.
struct Wait_State {
  std::uint32_t creator_filter = 0;
  bool completed = false;
  int success_mark = 1;

  // True when this message completes the wait.
  bool handle(uintptr_t code, intptr_t value) {
    if (completed) return false;
    if (creator_filter != 0 && creator_filter != shared_block()->creator_id) return false;
    if (code == kCodeCompleted) {
      completed = true;
      return true;
    }
    if (code == kCodeResult) success_mark &= static_cast<int>(value);
    return false;
  }
  // 0, 1 or 2 as VF_FlushCommandQueueEx returns.
  int result() const {
    if (!completed) return 2;
    return success_mark == 1 ? 0 : 1;
  }
};

// Waits for the conduit: completes on code 2, collects code-3 results.
class Wait_Dialog : public QDialog {
 public:
  Wait_Dialog(const char* caption, std::uint32_t creator_filter) {
    state_.creator_filter = creator_filter;
    setWindowTitle(QString::fromLocal8Bit(caption ? caption : kDefaultCaption));
    setModal(true);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QString::fromLatin1(kReadyText), this));
    texts->addWidget(new QLabel(QString::fromLatin1(kPressText), this));
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts);
    auto* abort = new QPushButton(QStringLiteral("&Abort"), this);
    abort->setDefault(true);
    connect(abort, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(abort, 0, Qt::AlignHCenter);
    owner_.post = &Wait_Dialog::post;
    owner_.context = this;
  }

  // 0, 1 or 2 as VF_FlushCommandQueueEx returns.
  int run() {
    Message_Target* target = VF_CreateMsgTarget(&owner_);
    exec();
    VF_DeleteMsgTarget(target);
    return state_.result();
  }

 private:
  // The target's owner entry: queue the message for the dialog, as a window message
  // would be posted to it.
  static void post(void* context, std::uint32_t message, uintptr_t wparam, intptr_t lparam) {
    auto* dialog = static_cast<Wait_Dialog*>(context);
    QMetaObject::invokeMethod(
        dialog, [dialog, message, wparam, lparam]() { dialog->handle(message, wparam, lparam); },
        Qt::QueuedConnection);
  }

  void handle(std::uint32_t, uintptr_t code, intptr_t value) {
    if (state_.handle(code, value)) accept();
  }

  Wait_State state_;
  VfMsgOwner owner_{};
};

// Without a display: the same wait, on an event loop of its own, ended by the conduit's
// completion or by the time limit (VXFMUT_WAIT_SECONDS, default 600; 0 = no limit),
// which counts as "&Abort".
class Headless_Wait : public QObject {
 public:
  explicit Headless_Wait(std::uint32_t creator_filter) {
    state_.creator_filter = creator_filter;
    owner_.post = &Headless_Wait::post;
    owner_.context = this;
  }

  int run(const char* caption) {
    std::fprintf(stderr, "%s: %s %s\n", caption ? caption : kDefaultCaption, kReadyText, kPressText);
    std::fflush(stderr);
    ensure_application();
    Message_Target* target = VF_CreateMsgTarget(&owner_);
    QTimer limit;
    limit.setSingleShot(true);
    long seconds = wait_limit_seconds();
    if (seconds > 0) {
      QObject::connect(&limit, &QTimer::timeout, &loop_, [this, seconds]() {
        std::fprintf(stderr, "No HotSync within %ld s: the wait ends as if aborted.\n", seconds);
        loop_.quit();
      });
      limit.start(std::chrono::seconds(seconds));
    }
    loop_.exec();
    VF_DeleteMsgTarget(target);
    return state_.result();
  }

 private:
  static long wait_limit_seconds() {
    const char* text = std::getenv("VXFMUT_WAIT_SECONDS");
    if (!text || !*text) return 600;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value >= 0) ? value : 600;
  }

  static void post(void* context, std::uint32_t, uintptr_t wparam, intptr_t lparam) {
    auto* wait = static_cast<Headless_Wait*>(context);
    QMetaObject::invokeMethod(
        wait, [wait, wparam, lparam]() { wait->handle(wparam, lparam); }, Qt::QueuedConnection);
  }

  void handle(uintptr_t code, intptr_t value) {
    if (state_.handle(code, value)) loop_.quit();
  }

  Wait_State state_;
  VfMsgOwner owner_{};
  QEventLoop loop_;
};

void empty_queue() {
  Shared_Block* block = shared_block();
  QueueLock lock;
  block->read_index = -1;
  block->write_index = 0;
}

}  // namespace

}  // namespace vxfmut

using namespace vxfmut;

extern "C" {

VF_API int32_t VF_FlushCommandQueueEx(const char* caption, uint32_t creator_filter) {
  int result = 2;
  try {
    if (widget_application()) {
      Wait_Dialog dialog(caption, creator_filter);
      result = dialog.run();
    } else {
      Headless_Wait wait(creator_filter);
      result = wait.run(caption);
    }
  } catch (...) {
    result = 2;
  }
  if (result == 2) empty_queue();
  return result;
}

VF_API int32_t VF_FlushCommandQueue(const char* caption) { return VF_FlushCommandQueueEx(caption, 0); }

VF_API int32_t VF_UserMaintenance(void) {
  try {
    if (!widget_application()) {
      std::fprintf(stderr,
                   "User Maintenance (DISABLED for Beta): Registered Users: 1 Beta User "
                   "(no display: Cancel)\n");
      return 1;
    }
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("User Maintenance (DISABLED for Beta)"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Registered Users:   "), &dialog));
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("users"));
    list->setColumnCount(2);
    list->setHeaderLabels({QStringLiteral("Slot"), QStringLiteral("User Name")});
    list->setRootIsDecorated(false);
    list->addTopLevelItem(new QTreeWidgetItem({QStringLiteral("1"), QStringLiteral("Beta User")}));
    layout->addWidget(list);
    auto* buttons = new QHBoxLayout;
    for (const char* text : {"OK", "&Add ...", "&Replace ...", "&Delete ..."}) {
      auto* button = new QPushButton(QString::fromLatin1(text), &dialog);
      button->setEnabled(false);
      buttons->addWidget(button);
    }
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    dialog.resize(360, 240);
    // Slot takes one fifth of the list's width, User Name the rest, once the list has
    // its final size.
    QTimer::singleShot(0, list, [list]() {
      int width = list->viewport()->width();
      list->setColumnWidth(0, width / 5);
      list->setColumnWidth(1, width - width / 5);
    });
    dialog.exec();
  } catch (...) {
  }
  return 1;
}

}  // extern "C"
