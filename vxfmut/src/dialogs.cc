// The library's two dialogs: Wait_Dialog (VF_FlushCommandQueueEx) and the user
// maintenance dialog (VF_UserMaintenance).
#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
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

// Waits for the conduit: completes on code 2, collects code-3 results.
class Wait_Dialog : public QDialog {
 public:
  Wait_Dialog(const char* caption, std::uint32_t creator_filter) : creator_filter_(creator_filter) {
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
    if (!completed_) return 2;
    return success_mark_ == 1 ? 0 : 1;
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
    if (completed_) return;
    if (creator_filter_ != 0 && creator_filter_ != shared_block()->creator_id) return;
    if (code == kCodeCompleted) {
      completed_ = true;
      accept();
    } else if (code == kCodeResult) {
      success_mark_ &= static_cast<int>(value);
    }
  }

  std::uint32_t creator_filter_;
  VfMsgOwner owner_{};
  bool completed_ = false;
  int success_mark_ = 1;
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
      std::fprintf(stderr, "%s: %s %s (no display: Abort)\n", caption ? caption : kDefaultCaption,
                   kReadyText, kPressText);
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
