// Breaking bulk packages open when a subtraction takes more units than a
// product has: whole packages of its bulk product (PRODUCT1's "Bulk Product
// Code", "Bulk Brkdwn Qty" units each) are taken to cover the shortfall.
//
// Everything is worked out first and written afterwards, so an error in the
// data (an empty stock or breakdown quantity, a breakdown quantity of 0, too
// many packages) leaves every product as it was. Stocks are written deepest
// bulk level first, then the bulk product, then the item.
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value_conversions.h"
#include "app/null_conversions.h"
#include "app/posting/posting.h"
#include "app/posting/posting_internal.h"

namespace tallimo {

using namespace posting;

namespace {

struct StockWrite {
  std::string code;
  double stock;
};
using Plan = std::vector<StockWrite>;

// Product codes compare as Jet compares text: without regard to case.
std::string code_key(const std::string& code) {
  std::string key = code;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

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

// The deeper levels: bulk product `code` lacks `missing` (negative) packages.
// Breaks packages of its own bulk product to make them, adding the stock
// writes of the products further up to `plan`, and gives the number of
// `code`'s packages produced (0 when none). Ends at a product without a
// usable bulk product, and at a bulk product already in `chain` (a loop).
double Break_Down_Bulk_Level(Session& session, const std::string& code, double missing, std::set<std::string>& chain, Plan& plan) {
  auto product = find_product(session, code);
  if (product->eof()) return 0;
  const std::string upper = raw_text(product->field("Bulk Product Code"));
  if (upper.empty() || chain.count(code_key(upper)) != 0) return 0;
  if (jet::is_null(product->field("Bulk Brkdwn Qty"))) return 0;
  const double per_package = number_of(*product, "Bulk Brkdwn Qty", code);
  product->close();
  auto upper_product = find_product(session, upper);
  if (upper_product->eof()) return 0;
  if (!(per_package > 0)) return 0;
  if (jet::is_null(upper_product->field("Inventory Qty"))) return 0;
  double stock = number_of(*upper_product, "Inventory Qty", upper);
  upper_product->close();

  const double shortfall = std::fabs(missing);
  const double needed = packages_for(shortfall, per_package, code);
  chain.insert(code_key(upper));
  if (stock - needed < 0) {
    const double produced = Break_Down_Bulk_Level(session, upper, stock - needed, chain, plan);
    if (produced > 0) stock += produced;
  }
  if (stock <= 0) return 0;
  if (needed >= 0 && stock - needed > 0) {
    plan.push_back({upper, stock - needed});
    return needed * per_package;
  }
  plan.push_back({upper, 0});
  return stock * per_package;
}

void write_stock(Session& session, const StockWrite& w) {
  auto product = find_product(session, w.code);
  if (product->eof()) {
    throw jet::Error(jet::ErrorCategory::kNotFound, "bulk breakdown: product \"" + w.code + "\" vanished");
  }
  product->edit();
  product->set_field("Inventory Qty", jet::Value(w.stock));
  product->update();
  note_write(session);
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
    throw jet::Error(jet::ErrorCategory::kInvalidArgument, "Nearest_Multiple: overflow (" + std::to_string(v) +
                                                               " in steps of " + std::to_string(step) + ")");
  }
  const double q = v / step + (up ? 0.5 : -0.5);
  const double whole = std::trunc(q);
  if (whole < -32768.0 || whole > 32767.0) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "Nearest_Multiple: overflow: " + std::to_string(v) + " needs more than 32767 whole steps");
  }
  const double f = std::nearbyint(q - whole);  // halves to even (default rounding mode)
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
    const std::string bulk_code = raw_text(item->field("Bulk Product Code"));
    std::unique_ptr<jet::dao::Recordset> bulk;
    if (!bulk_code.empty() && code_key(bulk_code) != code_key(code)) bulk = find_product(session, bulk_code);
    if (!bulk || bulk->eof()) {
      // No bulk product, or one that names no product (or the item itself):
      // a plain subtraction, so the scanned quantity is never lost.
      plan.push_back({code, -s});
    } else {
      double stock = number_of(*bulk, "Inventory Qty", bulk_code);
      const double per_package = number_of(*item, "Bulk Brkdwn Qty", code);
      bulk->close();
      item->close();
      const double needed = packages_for(s, per_package, code);
      if (stock - needed < 0) {
        std::set<std::string> chain{code_key(code), code_key(bulk_code)};
        const double produced = Break_Down_Bulk_Level(session, bulk_code, stock - needed, chain, plan);
        if (produced > 0) stock += produced;
      }
      if (needed >= 0 && stock - needed > 0) {
        plan.push_back({bulk_code, stock - needed});
        plan.push_back({code, needed * per_package - s});
      } else {
        plan.push_back({bulk_code, 0});
        plan.push_back({code, stock * per_package - s});
      }
    }
  }
  for (const StockWrite& w : plan) write_stock(session, w);
}

}  // namespace tallimo
