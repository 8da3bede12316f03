#pragma once
// One side of the driver benchmark: the stock client library or our driver
// command, on the same table and the same values.

#include <memory>
#include <string>

#include "BenchServer.h"

namespace driverbench {

using Server = bench::ServerAddress;

// The value of row i: text that needs escaping now and then.
inline std::string ValueOf(int i) {
  return i % 7 == 0 ? "it's row " + std::to_string(i) : "row " + std::to_string(i);
}

// One side of the comparison: inserts rows [first, first + count).
class Side {
 public:
  virtual ~Side() = default;
  virtual const char* Name() const = 0;
  virtual void Insert(int first, int count) = 0;
  virtual void RoundTrips(int count) = 0;  // "DO 1" without parameters
  // A statement without rows; and the first column of the first row of a
  // query. Both throw std::runtime_error on failure.
  virtual void Run(const std::string& sql) = 0;
  virtual std::string Scalar(const std::string& sql) = 0;
};

// Both connect at once; throw std::runtime_error when they cannot.
std::unique_ptr<Side> MakePeerSide(const Server& server);
std::unique_ptr<Side> MakeOurSide(const Server& server);

}  // namespace driverbench
