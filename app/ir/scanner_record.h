// The one record that passes between the infrared link class and the read and
// upload runs: filled by cls_Serial_IR::Read_Record_Set, sent by Write_Record_Set.
#pragma once

#include <cstdint>
#include <string>

namespace tallimo {

struct ScannerRecord {
  // 0 = count record (item, quantity, description), 1 = full product record,
  // 2 = index record (prefix, position in Qty).
  int16_t Record_Mode = 0;
  std::string Item_Number;
  std::string Description;
  double Standard_Price = 0;
  double Current_Cost = 0;
  double Qty = 0;
  std::string Vendor_Code;
  std::string Location;
  double List_Price = 0;
};

// The one instance of a running program is the Session's (Session::scanner_record()).

}  // namespace tallimo
