#pragma once
// The schedule overview without widgets: every row of `taxasiva` that
// belongs to one of the customer's stores, the customer's own store first
// and then each partner store in name order. The overview page
// (Tmain::tabagendaShow) loads and shows it.

#include <string>
#include <vector>

#include "SchedulerDatabase.h"
#include "ListTexts.h"

namespace app {

// The overview list and its companion lists, entry N describing row N.
struct OverviewList {
  std::vector<std::string> entries;    // `lista2`
  std::vector<std::string> databases;  // `basedados`: the row's basedados
  std::vector<std::string> hosts;      // `Hosts`: the row's servidor
  std::vector<std::string> oldRates;   // `oldtaxa`: the row's anterior as text
  int Count() const { return static_cast<int>(entries.size()); }
};

// The load: opens cnlic and cn, adds the rows of the store cn points at
// and then those of each partner of `parceiros` to `overview`, and closes
// cn and cnlic. Raises the components' errors (a NULL host or database of
// a partner among them); the rows added before the error stay in
// `overview`.
void LoadOverview(const SchedulerDatabase& db, OverviewList& overview);

}  // namespace app
