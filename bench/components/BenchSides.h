#pragma once
// The two sides of the components benchmark. Each lives in a source file of
// its own, since the peer's header and ours define the same protocol names.

#include <cstdint>
#include <memory>
#include <string>

#include "BenchServer.h"

namespace bench {

// What a walk over the rows read; both sides compute it the same way.
struct Sums {
  int64_t ids = 0;
  int64_t nameBytes = 0;
  double dates = 0;
  double amounts = 0;
  uint64_t rows = 0;
};

// Reads every row of `sql` (columns id, name, created, amount) into memory
// and walks it converting each value. Throws std::runtime_error.
Sums PeerRead(const ServerAddress& s, const char* sql);
Sums OurRead(const ServerAddress& s, const char* sql);

// A connection that inserts (id, value) rows into bench_comp_ins.
class Inserter {
 public:
  virtual ~Inserter() = default;
  virtual void Insert(int id, const std::string& value) = 0;
};
std::unique_ptr<Inserter> PeerInserter(const ServerAddress& s);
std::unique_ptr<Inserter> OurInserter(const ServerAddress& s);

// Runs a statement without rows, and one that answers a single value (as
// text, empty for NULL; or as a number, -1 for NULL), through the peer.
void PeerExec(const ServerAddress& s, const std::string& sql);
std::string PeerText(const ServerAddress& s, const std::string& sql);
long PeerScalar(const ServerAddress& s, const std::string& sql);

}  // namespace bench
