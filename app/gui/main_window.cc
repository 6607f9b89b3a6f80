// Frm_Main's layout, life (load, sizing, tray icon, auto-minimise, closing)
// and its status line. The command centre is in command_centre.cc, the grid
// and its filters in scan_grid_controls.cc.
#include "main_window.h"

#include "app/gui/history_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/data/scanner_database.h"
#include "app/posting/posting.h"
#include "app/gui/about_dialog.h"
#include "app/gui/logo.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/scan_grid.h"
#include "app/gui/twips.h"
#include "app/settings.h"

namespace tallimo::gui {
namespace {

constexpr int kAutoMinimiseMs = 3000;
// The status line is painted at most once a frame (60 Hz).
constexpr qint64 kEventIntervalMs = 16;

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

Frm_Main::Frm_Main(Session& session, QWidget* parent)
    : QMainWindow(parent), session_(session), previous_ui_(session.ui()) {
  session_.set_ui(*this);
  setObjectName("Frm_Main");
  setWindowTitle("Tallimo");
  setWindowIcon(tallimo_icon());

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(6, 6, 6, 6);
  column->setSpacing(6);
  Picture1_ = new QWidget(central);
  Picture1_->setObjectName("Picture1");
  build_standard_screen(Picture1_);
  column->addWidget(Picture1_);
  Pic_Advanced_ = new QWidget(central);
  Pic_Advanced_->setObjectName("Pic_Advanced");
  build_advanced_screen(Pic_Advanced_);
  column->addWidget(Pic_Advanced_, 1);
  column->addStretch(0);
  setCentralWidget(central);
  build_menus();
  build_tray();

  Timer1_ = new QTimer(this);
  Timer1_->setObjectName("Timer1");
  Timer1_->setInterval(kAutoMinimiseMs);
  Timer1_->setSingleShot(false);
  connect(Timer1_, &QTimer::timeout, this, &Frm_Main::Timer1_Timer);

  // The standard screen at first; the advanced section appears with the
  // screen switch.
  Pic_Advanced_->hide();
  apply_window_size();
  since_paint_.start();
  qApp->installEventFilter(this);
}

Frm_Main::~Frm_Main() {
  if (&session_.ui() == this) session_.set_ui(previous_ui_);
}

void Frm_Main::build_standard_screen(QWidget* parent) {
  auto* row = new QHBoxLayout(parent);
  row->setContentsMargins(0, 0, 0, 0);
  Image1_ = new QLabel(parent);
  Image1_->setObjectName("Image1");
  Image1_->setPixmap(tallimo_logo(96));
  row->addWidget(Image1_, 0, Qt::AlignTop);

  auto* middle = new QVBoxLayout;
  Orvex_Image_ = new QLabel(parent);
  Orvex_Image_->setObjectName("Orvex_Image");
  Orvex_Image_->setText("<b style='font-size:16pt'>Tallimo</b><br>Stock counts from the handheld scanner");
  Orvex_Image_->setMouseTracking(true);
  Orvex_Image_->installEventFilter(this);
  middle->addWidget(Orvex_Image_);
  lbl_Status_Header_ = new QLabel("Status", parent);
  lbl_Status_Header_->setObjectName("lbl_Status_Header");
  middle->addWidget(lbl_Status_Header_);
  lbl_Status_ = new QLabel("Waiting User Command", parent);
  lbl_Status_->setObjectName("lbl_Status");
  lbl_Status_->setFrameShape(QFrame::StyledPanel);
  // A fixed box: a new status text repaints the box alone and never lays
  // the window out again (a run shows one per record).
  lbl_Status_->setFixedHeight(44);
  lbl_Status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  lbl_Status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  middle->addWidget(lbl_Status_);
  ProgressBar_ = new QProgressBar(parent);
  ProgressBar_->setObjectName("ProgressBar");
  ProgressBar_->setRange(0, 100);
  ProgressBar_->setValue(0);
  // Keeps its place while hidden, so the status line does not jump.
  QSizePolicy keep = ProgressBar_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  ProgressBar_->setSizePolicy(keep);
  ProgressBar_->hide();
  middle->addWidget(ProgressBar_);
  middle->addStretch(1);
  row->addLayout(middle, 1);

  auto* buttons = new QVBoxLayout;
  for (int i : {0, 4, 1}) {
    QPushButton* b = make_command_button(i, parent);
    b->setMinimumWidth(170);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  row->addLayout(buttons);
}

QPushButton* Frm_Main::make_command_button(int i, QWidget* parent) {
  auto* b = new QPushButton(kCommandCaptions[i], parent);
  b->setObjectName(QString("Command_Center_%1").arg(i));
  b->setMouseTracking(true);
  b->installEventFilter(this);
  connect(b, &QPushButton::clicked, this, [this, i] { Command_Center_Click(i); });
  Command_Center_[i] = b;
  return b;
}

void Frm_Main::build_advanced_screen(QWidget* parent) {
  auto* column = new QVBoxLayout(parent);
  column->setContentsMargins(0, 0, 0, 0);
  auto* heading = new QLabel("Advanced Section", parent);
  heading->setObjectName("Label3_0");
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  column->addWidget(heading);

  // The advanced commands in a row, then the posting options and the grid
  // filter side by side.
  auto* buttons = new QHBoxLayout;
  for (int i : {3, 2, 5}) {
    buttons->addWidget(make_command_button(i, parent));
  }
  buttons->addStretch(1);
  column->addLayout(buttons);

  auto* row = new QHBoxLayout;
  auto* Frame3 = new QGroupBox("Process Options:", parent);
  Frame3->setObjectName("Frame3");
  auto* process = new QGridLayout(Frame3);
  process->setVerticalSpacing(2);
  Chk_Process_Items_All_ = new QCheckBox("All", Frame3);
  Chk_Process_Items_All_->setObjectName("Chk_Process_Items_All");
  process->addWidget(Chk_Process_Items_All_, 0, 0);
  for (int kind = 0; kind < 6; ++kind) {
    auto* box = new QCheckBox(kFileTypeLabels[kind], Frame3);
    box->setObjectName(QString("Chk_Process_Items_%1").arg(kind));
    process->addWidget(box, (kind + 1) % 4, (kind + 1) / 4);
    connect(box, &QCheckBox::clicked, this,
            [this, kind] { Chk_Process_Items_Click(session_, static_cast<int16_t>(kind)); });
    Chk_Process_Items_[kind] = box;
  }
  connect(Chk_Process_Items_All_, &QCheckBox::clicked, this, [this] { Chk_Process_Items_All_Click(session_); });
  row->addWidget(Frame3, 1);

  auto* Frame2 = new QGroupBox("Filter List:", parent);
  Frame2->setObjectName("Frame2");
  auto* filter = new QGridLayout(Frame2);
  filter->setVerticalSpacing(2);
  Chk_Search_Verify_ = new QCheckBox("All", Frame2);
  Chk_Search_Verify_->setObjectName("Chk_Search_Verify");
  filter->addWidget(Chk_Search_Verify_, 0, 0);
  static constexpr const char* kOptionCaptions[7] = {"All",          "Add to Inventory", "Subtract Inventory",
                                                     "Compare Inventory", "Replace Inventory", "Add New Item",
                                                     "Edit Products"};
  for (int i = 0; i < 7; ++i) {
    auto* option = new QRadioButton(kOptionCaptions[i], Frame2);
    option->setObjectName(QString("Opt_Search_Verify_%1").arg(i));
    filter->addWidget(option, (i + 1) % 4, (i + 1) / 4);
    connect(option, &QRadioButton::clicked, this, [this, i] { Opt_Search_Verify_Click(i); });
    Opt_Search_Verify_[i] = option;
  }
  connect(Chk_Search_Verify_, &QCheckBox::clicked, this, [this] { Chk_Search_Verify_Click(); });
  row->addWidget(Frame2, 1);
  column->addLayout(row);

  lbl_Hints_ = new QLabel("Double Click on Grid to display Editor", parent);
  lbl_Hints_->setObjectName("lbl_Hints");
  QSizePolicy keep = lbl_Hints_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  lbl_Hints_->setSizePolicy(keep);
  lbl_Hints_->hide();
  column->addWidget(lbl_Hints_);

  grid_model_ = new ScanGridModel(this);
  // The grid shows and addresses Standard_Price as "Price".
  grid_model_->set_column_caption("Standard_Price", "Price");
  TDBGrid1_ = new ScanGridView(parent);
  TDBGrid1_->setObjectName("TDBGrid1");
  TDBGrid1_->setModel(grid_model_);
  TDBGrid1_->viewport()->setMouseTracking(true);
  TDBGrid1_->viewport()->installEventFilter(this);
  connect(TDBGrid1_, &QAbstractItemView::doubleClicked, this, [this] { TDBGrid1_DblClick(); });
  connect(TDBGrid1_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { TDBGrid1_RowColChange(); });
  connect(grid_model_, &ScanGridModel::write_failed, this,
          [this](const QString& text) { message_box(text.toStdString(), MessageButtons::kOk, MessageIcon::kNone, "Tallimo"); });
  column->addWidget(TDBGrid1_, 1);
}

void Frm_Main::build_menus() {
  auto forward = [this](QAction* action) {
    connect(action, &QAction::triggered, this, [this, action] { Click_Command_Button(action->text().toStdString()); });
  };
  auto named = [](QAction* action, const char* name) {
    action->setObjectName(name);
    return action;
  };
  File_ = menuBar()->addMenu("&File");
  File_->setObjectName("File");
  Preferences_ = named(File_->addAction("&Preferences"), "Preferences");
  connect(Preferences_, &QAction::triggered, this, &Frm_Main::Preferences_Click);
  Hide_ = named(File_->addAction("&Hide"), "Hide");
  connect(Hide_, &QAction::triggered, this, &Frm_Main::Hide_Click);
  Exit_ = named(File_->addAction("E&xit"), "Exit");
  connect(Exit_, &QAction::triggered, this, [this] { session_.end_program(); });

  Reports_ = menuBar()->addMenu("&Reports");
  Reports_->setObjectName("Reports");
  Mnu_Comparison_ = named(Reports_->addAction("&Comparison"), "Mnu_Comparison");
  Mnu_Comparison_->setEnabled(false);
  connect(Mnu_Comparison_, &QAction::triggered, this, &Frm_Main::Mnu_Comparison_Click);
  Mnu_Posting_History_ = named(Reports_->addAction("Posting &History"), "Mnu_Posting_History");
  connect(Mnu_Posting_History_, &QAction::triggered, this, &Frm_Main::Mnu_Posting_History_Click);

  Mnu_Synchronize_ = named(menuBar()->addAction("&Synchronize"), "Mnu_Synchronize");
  forward(Mnu_Synchronize_);

  Mnu_Advanced_ = menuBar()->addMenu("&Advanced");
  Mnu_Advanced_->setObjectName("Mnu_Advanced");
  Mnu_Read_Scanner_ = named(Mnu_Advanced_->addAction("&Read Scanner"), "Mnu_Read_Scanner");
  forward(Mnu_Read_Scanner_);
  Mnu_Process_Post_ = named(Mnu_Advanced_->addAction("&Process/Post"), "Mnu_Process_Post");
  forward(Mnu_Process_Post_);
  Mnu_Show_Advance_Screen_ = named(Mnu_Advanced_->addAction("&Show Advanced Screen"), "Mnu_Show_Advance_Screen");
  // Forwards the screen button's current caption, so it toggles the screen.
  connect(Mnu_Show_Advance_Screen_, &QAction::triggered, this,
          [this] { Click_Command_Button(Command_Center_[4]->text().toStdString()); });
  Mnu_Update_Inventory_ = named(Mnu_Advanced_->addAction("&Update Inventory to Scanner"), "Mnu_Update_Inventory");
  forward(Mnu_Update_Inventory_);
  // Standard screen: the advanced commands wait for the advanced screen.
  Mnu_Read_Scanner_->setEnabled(false);
  Mnu_Process_Post_->setEnabled(false);
  Mnu_Update_Inventory_->setEnabled(false);

  Help_ = menuBar()->addMenu("&Help");
  Help_->setObjectName("Help");
  About_ = named(Help_->addAction("A&bout"), "About");
  connect(About_, &QAction::triggered, this, &Frm_Main::About_Click);
  UsersManual_ = named(Help_->addAction("Users Manual"), "UsersManual");
  connect(UsersManual_, &QAction::triggered, this, &Frm_Main::UsersManual_Click);
}

void Frm_Main::Mnu_Posting_History_Click() {
  Frm_Posting_History history(session_, this);
  history.exec();
}

void Frm_Main::build_tray() {
  mPopupSys_ = new QMenu("&SysTray ", this);
  mPopupSys_->setObjectName("mPopupSys");
  mPopRestore_ = mPopupSys_->addAction("&Restore");
  mPopRestore_->setObjectName("mPopRestore");
  connect(mPopRestore_, &QAction::triggered, this, &Frm_Main::mPopRestore_Click);
  mPopExit_ = mPopupSys_->addAction("&Exit");
  mPopExit_->setObjectName("mPopExit");
  connect(mPopExit_, &QAction::triggered, this, [this] { session_.end_program(); });
  tray_ = new QSystemTrayIcon(tallimo_icon(), this);
  tray_->setToolTip("Tallimo");
  tray_->setContextMenu(mPopupSys_);
  connect(tray_, &QSystemTrayIcon::activated, this, &Frm_Main::tray_activated);
}

QAction* Frm_Main::action(const char* name) const { return findChild<QAction*>(name); }

double Frm_Main::logical_dpi() const {
  const QScreen* s = screen();
  return s != nullptr ? s->logicalDotsPerInchY() : 96.0;
}
int Frm_Main::standard_height() const { return twips_to_pixels(kStandardHeightTwips, logical_dpi()); }
int Frm_Main::design_height() const { return twips_to_pixels(kDesignHeightTwips, logical_dpi()); }
int Frm_Main::design_width() const { return twips_to_pixels(kDesignWidthTwips, logical_dpi()); }

// The window keeps its designed size: the user cannot drag it larger or
// smaller, and the height follows the screen in use.
void Frm_Main::apply_window_size() {
  const int height = Pic_Advanced_->isHidden() ? standard_height() : design_height();
  setFixedSize(design_width(), height);
}

void Frm_Main::Form_Load() {
  session_.set_ui(*this);
  Load_Settings(session_);
  if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();
  Open_Scanner_Data_File(session_);
  Chk_Search_Verify_->setChecked(true);
  Chk_Search_Verify_Click();
  Chk_Process_Items_All_->setChecked(true);
  Chk_Process_Items_All_Click(session_);
  if (session_.settings().Auto_Min) Timer1_->start();
  Update_Comparision_Menu(session_);
}

void Frm_Main::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) setWindowTitle("Tallimo");
  QMainWindow::changeEvent(event);
}

// ---- status line ----

// The status line never runs the event loop (a run may hold a transaction
// open while it reports): the label is painted on the spot instead, at most
// once a frame; the text itself is always the latest.
void Frm_Main::Display_Status_Message(const std::string& text) {
  lbl_Status_->setText(qs(text));
  if (since_paint_.elapsed() >= kEventIntervalMs) {
    if (lbl_Status_->isVisible()) lbl_Status_->repaint();
    if (ProgressBar_->isVisible()) ProgressBar_->repaint();
    since_paint_.restart();
  }
}

void Frm_Main::Update_Status(const std::string& msg, long count, long total) {
  if (msg.empty()) {
    Display_Status_Message("");
    ProgressBar_->setValue(0);
    ProgressBar_->hide();
    return;
  }
  long percent = 0;
  if (total > 0 && count > 0) percent = count >= total ? 100 : static_cast<long>(count * 100.0 / total);
  ProgressBar_->setValue(static_cast<int>(percent));
  ProgressBar_->show();
  Display_Status_Message(msg);
}

void Frm_Main::do_events() { QCoreApplication::processEvents(); }

MessageAnswer Frm_Main::message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                                    const std::string& title) {
  QMessageBox box(this);
  box.setWindowTitle(qs(title));
  box.setText(qs(text));
  box.setTextFormat(Qt::PlainText);
  switch (icon) {
    case MessageIcon::kNone: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::kInformation: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::kQuestion: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::kExclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::kCritical: box.setIcon(QMessageBox::Critical); break;
  }
  switch (buttons) {
    case MessageButtons::kOk: box.setStandardButtons(QMessageBox::Ok); break;
    case MessageButtons::kOkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MessageButtons::kYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MessageButtons::kYesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    case MessageButtons::kRetryCancel: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
  }
  emit message_shown(qs(text));
  switch (box.exec()) {
    case QMessageBox::Cancel: return MessageAnswer::kCancel;
    case QMessageBox::Yes: return MessageAnswer::kYes;
    case QMessageBox::No: return MessageAnswer::kNo;
    case QMessageBox::Retry: return MessageAnswer::kRetry;
    default: return MessageAnswer::kOk;
  }
}

// ---- auto-minimise, tray, hide ----

bool Frm_Main::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
    QPushButton* button = button_for_accelerator(static_cast<QKeyEvent*>(event));
    if (button != nullptr) {
      // Claimed at the override so that no menu takes the same letter; the
      // key press then clicks the button.
      event->accept();
      if (event->type() == QEvent::KeyPress) button->click();
      return true;
    }
    return false;
  }
  if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
    // Only over the command buttons, the logo text and the grid.
    const bool watched_widget = watched == Orvex_Image_ || watched == TDBGrid1_->viewport() ||
                                std::find(Command_Center_.begin(), Command_Center_.end(), watched) !=
                                    Command_Center_.end();
    if (watched_widget) cancel_auto_minimise();
  }
  return QMainWindow::eventFilter(watched, event);
}

// Several command buttons share their accelerator with a menu of the menu
// bar ("&Synchronize", "&Advanced", "&Read Scanner" beside "&Reports"). Qt
// would treat such a key as ambiguous and do neither, so a visible, enabled
// command button takes Alt+its letter; the menu is still opened by pressing
// and releasing Alt, then the letter.
QPushButton* Frm_Main::button_for_accelerator(const QKeyEvent* key) const {
  if (key->modifiers() != Qt::AltModifier || key->key() < Qt::Key_A || key->key() > Qt::Key_Z) return nullptr;
  if (QApplication::activeModalWidget() != nullptr || QApplication::activeWindow() != this) return nullptr;
  for (QPushButton* button : Command_Center_) {
    if (!button->isEnabled() || !button->isVisibleTo(this) || button->window()->isHidden()) continue;
    const QString text = button->text();
    const auto amp = text.indexOf('&');
    if (amp < 0 || amp + 1 >= text.size()) continue;
    if (text.at(amp + 1).toUpper().unicode() == key->key()) return button;
  }
  return nullptr;
}

void Frm_Main::cancel_auto_minimise() { Timer1_->stop(); }

void Frm_Main::Timer1_Timer() {
  showMinimized();
  Timer1_->stop();
}

void Frm_Main::Hide_Click() { showMinimized(); }

void Frm_Main::mPopRestore_Click() {
  showNormal();
  raise();
  activateWindow();
}

void Frm_Main::tray_activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
      mPopRestore_Click();
      break;
    case QSystemTrayIcon::Context:
      // The context menu itself is shown by the tray; the window comes to
      // the front first, as the pop-up belongs to it.
      raise();
      activateWindow();
      break;
    default:
      break;
  }
}

// ---- closing ----

void Frm_Main::unload_main_window() { close(); }

void Frm_Main::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // A command is running: stop it at its next record and close once it
    // has unwound, so that nothing it was writing is cut in half.
    close_requested_ = true;
    session_.set_abort(true);
    Display_Status_Message("Aborting...");
    event->ignore();
    return;
  }
  grid_commit_pending_edit();
  Timer1_->stop();
  tray_->hide();
  grid_model_->close_source();
  Close_Scanner_Data_File(session_);
  event->accept();
  QCoreApplication::quit();
}

// ---- dialogs ----

void Frm_Main::show_preferences() {
  Frm_Preferences dialog(session_.settings(), this);
  dialog.exec();
}

void Frm_Main::Preferences_Click() {
  show_preferences();
  Save_Settings(session_);
}

void Frm_Main::About_Click() {
  frm_About dialog(this);
  dialog.exec();
}

QString Frm_Main::manual_path() const {
  const QString name = "Tallimo Manual/Tallimo Manual.pdf";
  // The application folder, then beside the program (a build or portable
  // install), then the installed documentation.
  const QString program = QCoreApplication::applicationDirPath() + "/";
  for (const QString& folder : {qs(session_.application_folder()), program, program + "../share/doc/tallimo/"}) {
    if (QFileInfo(folder + name).isFile()) return QFileInfo(folder + name).absoluteFilePath();
  }
  return qs(session_.application_folder()) + name;
}

void Frm_Main::UsersManual_Click() {
  const QString manual = manual_path();
  if (!QFileInfo::exists(manual)) {
    message_box("The manual was not found at " + manual.toStdString() + ".", MessageButtons::kOk,
                MessageIcon::kNone, "Tallimo");
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(manual))) {
    message_box(
        "In order to view the Manual you will need to have Adobe Acrobat installed. This is free and can be found "
        "at https://get.adobe.com/reader/ (any PDF reader will do).",
        MessageButtons::kOk, MessageIcon::kNone, "Tallimo");
  }
}

}  // namespace tallimo::gui
