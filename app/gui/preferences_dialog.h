// Frm_Preferences: the six settings in a modal dialog. "&OK" takes the
// dialog's values into the settings, "&Cancel" leaves them as they were, and
// "...." browses for the products database. The caller saves the settings
// after the dialog closes, whichever button closed it.
#pragma once

#include <QDialog>
#include <array>

#include "app/settings.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tallimo::gui {

class Frm_Preferences : public QDialog {
  Q_OBJECT

 public:
  Frm_Preferences(Settings& settings, QWidget* parent = nullptr);

  QRadioButton* baud_option(int i) const { return Opt_Baud_[i]; }
  QRadioButton* port_option(int i) const { return Opt_Com_[i]; }
  QLineEdit* location_box() const { return txt_Orvex_Location_; }
  QCheckBox* auto_min_box() const { return Chk_Auto_Min_; }
  QCheckBox* auto_print_box() const { return Chk_Auto_Print_Comparison_Report_; }
  QComboBox* scanner_box() const { return cbo_Scanner_; }
  QPushButton* button(int i) const { return Command_Center_[i]; }

  // The browse's file dialog title and filter.
  static QString browse_title();
  static QString browse_filter();

 private:
  void Form_Load();
  void Command_Center_Click(int index);
  void take_values();
  void browse();

  Settings& settings_;
  std::array<QRadioButton*, 3> Opt_Baud_{};
  std::array<QRadioButton*, 8> Opt_Com_{};
  QLineEdit* txt_Orvex_Location_ = nullptr;
  QCheckBox* Chk_Auto_Min_ = nullptr;
  QCheckBox* Chk_Auto_Print_Comparison_Report_ = nullptr;
  QComboBox* cbo_Scanner_ = nullptr;
  std::array<QPushButton*, 3> Command_Center_{};
};

}  // namespace tallimo::gui
