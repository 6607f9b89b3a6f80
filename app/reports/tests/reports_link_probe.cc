// Links the reports' core and uses it, so that ldd lists what it needs.
#include "app/reports/report_layout.h"

int main() { return tallimo::reports::parse_number_format("0.00") ? 0 : 1; }
