#pragma once
// Scheduling without widgets: the rows a rate change writes into the
// central table `taxasiva`, one per store. The rate page
// (Tmain::btalterarClick) checks the inputs, asks for confirmation and then
// writes with these.

#include <string>

#include "RatePage.h"
#include "SchedulerDatabase.h"

namespace app {

// A store as the stores list describes it.
struct StoreRef {
  std::string host;      // `Hosts` entry
  std::string database;  // `basedados` entry
  std::string entry;     // the text listed, written as `cliente`
};

// Replaces the store's earlier row for the change's old rate by a new one:
// the DELETE of q_delmarc and the INSERT of q_addmarc, run as one
// transaction on cnlic (connecting it when closed). Either both take effect
// or, when anything fails, neither does: the store keeps its earlier row,
// and the error (the components' own) is raised after the transaction has
// been rolled back where the session still allows it. cnlic stays open.
void ScheduleStore(const SchedulerDatabase& db, const StoreRef& store, const RateChange& change);

// Removes every row of a store for one old rate (q_delmarc, committed by
// the server at once). Raises the components' errors.
void RemoveScheduled(const SchedulerDatabase& db, const std::string& host, const std::string& database,
                     int oldRate);

}  // namespace app
