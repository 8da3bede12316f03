#pragma once
// One side of the dataset benchmark: opens the SELECT of the benchmark
// table and reads every row's four values typed (integer, text, date-time
// as days since 1899-12-30, double). Both sides do the same conversions.

#include <cstdint>
#include <string>

#include "BenchServer.h"

namespace bench {

// What a walk read, to check that both sides saw the same values.
struct WalkSums {
  uint64_t rows = 0;
  int64_t ints = 0;
  uint64_t textBytes = 0;
  double days = 0;
  double amounts = 0;
};

// The statement both sides run: the first `limit` rows in key order.
inline std::string SelectRows(uint64_t limit) {
  return "SELECT id, name, created, amount FROM bench_dataset_rows ORDER BY id LIMIT " + std::to_string(limit);
}

// Throw std::runtime_error on failure.
WalkSums OurWalk(const ServerAddress& server, bool forwardOnly, uint64_t limit);
WalkSums PeerWalk(const ServerAddress& server, uint64_t limit);
void PrepareTable(const ServerAddress& server, uint64_t rows);

}  // namespace bench
