// Shared by the engine's and the SQL layer's benchmarks: the point-of-sale
// products table (its layout and four indexes), rows for it, a whole
// products file built from them, and timing mdb-export as the peer. Every
// benchmark runs on this one table, so their figures compare.
#pragma once

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include "jet/schema.h"
#include "jet/table.h"

namespace bench {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0);

// Runs mdb-export FILE TABLE into /dev/null; returns its wall time (s).
// Throws jet::Error when it cannot run or fails.
double time_mdb_export(const std::string& file, const std::string& table);

// Product code number i (distinct for i < 1,000,000).
std::string product_code(int i);
// PRODUCT1 as the point-of-sale system lays it out.
jet::TableSpec product_spec();
jet::Row product_row(int i, std::mt19937& rng);

// The products file the SQL benchmarks query: PRODUCT1 with `count` rows of
// product_row (a fixed seed), password kProductsPassword, written in one
// transaction. Creates `name` in `folder` (replacing it) and returns its path.
inline constexpr int kProducts = 100000;
inline constexpr const char* kProductsPassword = "qzmvrp";
inline constexpr unsigned kProductsSeed = 20260101;
std::string build_products(const std::filesystem::path& folder, const std::string& name, int count = kProducts);

}  // namespace bench
