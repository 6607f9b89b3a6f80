// Shared by the engine's benchmarks: the point-of-sale products table (its
// layout and four indexes), rows for it, and timing mdb-export as the peer.
#pragma once

#include <chrono>
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

}  // namespace bench
