// Frm_Editor: one Scanner_Data row in eight text boxes, opened by a
// double-click on the grid under the "Edit Products" filter. "&OK" writes the
// row back and sets the dirty flag; "&Cancel" leaves the row as it was.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace jet::dao {
class Database;
class Recordset;
}  // namespace jet::dao

namespace tallimo {
class Session;
}

namespace tallimo::gui {

// The boxes' columns and labels, in their order on the form.
struct EditorField {
  const char* column;
  const char* label;
};
inline constexpr std::array<EditorField, 8> kEditorFields{{{"Item_Number", "Item Number"},
                                                           {"Description", "Description"},
                                                           {"Qty", "Qty"},
                                                           {"Standard_Price", "Standard Price"},
                                                           {"Current_Cost", "Current Price"},
                                                           {"List_Price", "List Price"},
                                                           {"Location", "Location"},
                                                           {"Vendor_Code", "Vendor"}}};

// Caret at the start of the box and its whole text selected.
void Select_All_Text(QLineEdit* box);

class Frm_Editor : public QDialog {
  Q_OBJECT

 public:
  // The row lives in the session's scanner database.
  explicit Frm_Editor(Session& session, QWidget* parent = nullptr);
  ~Frm_Editor() override;

  void Set_ID(int32_t id) { id_ = id; }
  void Set_Table_Name(const std::string& table) { table_ = table; }
  bool Get_Dirty_Flag() const { return dirty_; }

  // The load: reads the row into the boxes. Errors are reported through
  // Error_Routine as "Form_Editor_Load". Called by exec() as well.
  void Form_Load();
  int exec() override;

  // The statement that reads the row.
  static std::string row_statement(const std::string& table, int32_t id);

  QLineEdit* field_box(int i) const { return txt_Fields_[i]; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* cancel_button() const { return cancel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Command_Center_Click(int index);
  bool write_back();

  Session& session_;
  std::unique_ptr<jet::dao::Recordset> DB_Local_Data_;
  int32_t id_ = 0;
  std::string table_ = "Scanner_Data";
  bool dirty_ = false;
  bool loaded_ = false;
  QLabel* lb_Caption_ = nullptr;
  std::array<QLineEdit*, 8> txt_Fields_{};
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace tallimo::gui
