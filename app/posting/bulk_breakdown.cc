// Breaking bulk packages open when a subtraction takes more units than a
// product has: whole packages of its bulk product (PRODUCT1's "Bulk Product
// Code", "Bulk Brkdwn Qty" units each) are taken to cover the shortfall.
//
// Everything is worked out first and written afterwards, so an error in the
// data (an empty stock or breakdown quantity, a breakdown quantity of 0, too
// many packages) leaves every product as it was. Stocks are written deepest
// bulk level first, then the bulk product, then the item. Units are conserved
// at every level: each package broken open is credited, in units, to the
// product below it.
//
// Products are identified by their Product Code as stored: a bulk code is
// looked up through the engine (which compares text as its index does:
// without regard to letter case, accents' case or trailing blanks), and the
// row found is the product. So 'SELF ' on SELF, or 'été' on ÉTÉ, is the item
// itself, and a chain that comes back to a product already in it ends.
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value_conversions.h"
#include "app/history/journal.h"
#include "app/null_conversions.h"
#include "app/posting/posting.h"
#include "app/posting/posting_internal.h"

namespace tallimo {

using namespace posting;

namespace {

struct StockWrite {
  std::string code;  // as stored
  double stock;
  // A bulk product whose packages are broken open, and the units they give
  // the product below (for the posting history).
  bool package = false;
  double units = 0;
};
using Plan = std::vector<StockWrite>;

// The Product Code of the row a lookup stands on, as stored.
std::string stored_code(const jet::dao::Recordset& product) { return raw_text(product.field("Product Code")); }

// A number field as a double; an empty (Null) or non-numeric value is an
// error naming the product and the column.
double number_of(const jet::dao::Recordset& product, const char* column, const std::string& code) {
  const jet::Value v = product.field(column);
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* f = std::get_if<float>(&v)) return *f;
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  if (const auto* s = std::get_if<int16_t>(&v)) return *s;
  if (const auto* b = std::get_if<uint8_t>(&v)) return *b;
  if (const auto* c = std::get_if<jet::Currency>(&v)) return jet::currency_to_double(*c);
  if (jet::is_null(v)) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "bulk breakdown of product \"" + code + "\": its [" + column + "] is empty (Null)");
  }
  throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                   "bulk breakdown of product \"" + code + "\": its [" + column + "] is not a number");
}

// The packages to break for `shortfall` units at `per_package` units each.
double packages_for(double shortfall, double per_package, const std::string& code) {
  if (per_package == 0) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "bulk breakdown of product \"" + code + "\": its [Bulk Brkdwn Qty] is 0 (division by zero)");
  }
  return Nearest_Multiple(jet::Value(shortfall / per_package), 1.0, true);
}

// The deeper levels: bulk product `code` (as stored) lacks `missing`
// (negative) packages. Breaks packages of its own bulk product to make them,
// adding the stock writes of the products further up to `plan`, and gives the
// number of `code`'s packages produced (0 when none). Ends at a product
// without a usable bulk product, and at a bulk product already in `chain` (a
// loop).
double Break_Down_Bulk_Level(Session& session, const std::string& code, double missing, std::set<std::string>& chain,
                             Plan& plan) {
  auto product = find_product(session, code);
  if (product->eof()) return 0;
  const std::string upper_code = raw_text(product->field("Bulk Product Code"));
  if (upper_code.empty()) return 0;
  if (jet::is_null(product->field("Bulk Brkdwn Qty"))) return 0;
  const double per_package = number_of(*product, "Bulk Brkdwn Qty", code);
  product->close();
  auto upper_product = find_product(session, upper_code);
  if (upper_product->eof()) return 0;
  const std::string upper = stored_code(*upper_product);
  if (chain.count(upper) != 0) return 0;
  if (!(per_package > 0)) return 0;
  if (jet::is_null(upper_product->field("Inventory Qty"))) return 0;
  double stock = number_of(*upper_product, "Inventory Qty", upper);
  upper_product->close();

  const double shortfall = std::fabs(missing);
  const double needed = packages_for(shortfall, per_package, code);
  chain.insert(upper);
  double produced = 0;
  if (stock - needed < 0) {
    produced = Break_Down_Bulk_Level(session, upper, stock - needed, chain, plan);
    if (produced > 0) stock += produced;
  }
  if (stock <= 0) {
    // Still no whole package to give: nothing for `code`, but the packages
    // broken above were turned into units of `upper`, which it keeps.
    if (produced > 0) plan.push_back({upper, stock, true, 0});
    return 0;
  }
  if (needed >= 0 && stock - needed > 0) {
    plan.push_back({upper, stock - needed, true, needed * per_package});
    return needed * per_package;
  }
  plan.push_back({upper, 0, true, stock * per_package});
  return stock * per_package;
}

void write_stock(Session& session, const StockWrite& w) {
  auto product = find_product(session, w.code);
  if (product->eof()) {
    throw jet::Error(jet::ErrorCategory::kNotFound, "bulk breakdown: product \"" + w.code + "\" vanished");
  }
  history::RunJournal* journal = run_journal(session);
  const jet::Value before = journal != nullptr ? product->field("Inventory Qty") : jet::Value();
  product->edit();
  product->set_field("Inventory Qty", jet::Value(w.stock));
  product->update();
  note_write(session);
  if (journal != nullptr) {
    journal->quantity(w.code, before, product->field("Inventory Qty"),
                      w.package ? history::kChangePackage : history::kChangeQuantity, w.units);
  }
  product->close();
}

}  // namespace

double Nearest_Multiple(const jet::Value& value, double step, bool up) {
  double v = 0;
  if (const auto* d = std::get_if<double>(&value)) {
    v = *d;
  } else if (const auto* f = std::get_if<float>(&value)) {
    v = *f;
  } else if (const auto* i = std::get_if<int32_t>(&value)) {
    v = *i;
  } else if (const auto* s = std::get_if<int16_t>(&value)) {
    v = *s;
  } else if (const auto* b = std::get_if<uint8_t>(&value)) {
    v = *b;
  } else if (const auto* c = std::get_if<jet::Currency>(&value)) {
    v = jet::currency_to_double(*c);
  } else if (const auto* t = std::get_if<std::string>(&value)) {
    jet::Currency amount;
    if (!jet::parse_currency(*t, amount)) return 0;
    v = jet::currency_to_double(amount);
  } else {
    return 0;
  }
  if (!std::isfinite(v) || step == 0 || !std::isfinite(v / step)) {
    jet::throw_overflow("Nearest_Multiple of " + jet::double_to_text(v) + " in steps of " + jet::double_to_text(step));
  }
  const double q = v / step + (up ? 0.5 : -0.5);
  const double whole = std::trunc(q);
  const double f = std::nearbyint(q - whole);  // halves to even (default rounding mode)
  // The count of whole steps is a 16-bit integer, also after the rounding
  // step (32767.2 rounds up to 32768 steps: an overflow, not 32768).
  if (whole < -32768.0 || whole > 32767.0 || whole + f < -32768.0 || whole + f > 32767.0) {
    jet::throw_overflow("Nearest_Multiple: " + jet::double_to_text(v) + " needs more than 32767 whole steps of " +
                        jet::double_to_text(step));
  }
  return (whole + f) * step;
}

void Break_Down_Bulk(Session& session, const std::string& code, double& shortfall) {
  const double s = std::fabs(shortfall);
  shortfall = s;
  Plan plan;
  {
    auto item = find_product(session, code);
    if (item->eof()) {
      throw jet::Error(jet::ErrorCategory::kNotFound, "bulk breakdown: no product \"" + code + "\" in PRODUCT1");
    }
    const std::string item_code = stored_code(*item);
    const std::string bulk_ref = raw_text(item->field("Bulk Product Code"));
    std::unique_ptr<jet::dao::Recordset> bulk;
    if (!bulk_ref.empty()) {
      bulk = find_product(session, bulk_ref);
      if (!bulk->eof() && stored_code(*bulk) == item_code) bulk.reset();  // the item itself
    }
    if (!bulk || bulk->eof()) {
      // No bulk product, or one that names no product (or the item itself):
      // a plain subtraction, so the scanned quantity is never lost.
      plan.push_back({item_code, -s});
    } else {
      const std::string bulk_code = stored_code(*bulk);
      double stock = number_of(*bulk, "Inventory Qty", bulk_code);
      const double per_package = number_of(*item, "Bulk Brkdwn Qty", code);
      bulk->close();
      item->close();
      const double needed = packages_for(s, per_package, code);
      if (stock - needed < 0) {
        std::set<std::string> chain{item_code, bulk_code};
        const double produced = Break_Down_Bulk_Level(session, bulk_code, stock - needed, chain, plan);
        if (produced > 0) stock += produced;
      }
      if (needed >= 0 && stock - needed > 0) {
        plan.push_back({bulk_code, stock - needed, true, needed * per_package});
        plan.push_back({item_code, needed * per_package - s});
      } else {
        plan.push_back({bulk_code, 0, true, stock * per_package});
        plan.push_back({item_code, stock * per_package - s});
      }
    }
  }
  for (const StockWrite& w : plan) write_stock(session, w);
}

}  // namespace tallimo
