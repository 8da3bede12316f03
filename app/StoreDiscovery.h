#pragma once
// Store discovery without widgets: which stores belong to the customer and
// which of them already have pending changes. The stores page
// (Tmain::tabsoftwareShow) runs these steps and shows the result.
//
// Texts are Windows-1252 bytes, as the databases and the identity give them.

#include <string>
#include <vector>

#include "Identity.h"
#include "ListTexts.h"
#include "SchedulerDatabase.h"

namespace app {

// The stores list and its two companion lists, entry N of each describing
// store N: entry 0 the customer's own store, then the partner stores.
struct StoreList {
  std::vector<std::string> entries;    // the text listed
  std::vector<std::string> databases;  // `basedados`
  std::vector<std::string> hosts;      // `Hosts`
  std::vector<bool> checked;           // the store has rows in taxasiva
  int Count() const { return static_cast<int>(entries.size()); }
};

// Where the customer's own database is, as `ligacoes` gives it (trimmed).
struct CustomerLocation {
  std::string database;
  std::string host;
};

// The central lookup: opens cnlic and reads the customer's database and
// host for `serial` from `ligacoes` (the first row; empty texts when there
// is none). Raises the components' errors.
CustomerLocation LookUpCustomer(const SchedulerDatabase& db, const std::string& serial);

// The store listing: re-points cn at the customer's store and opens it,
// adds the customer's own store and then every partner of `parceiros` to
// `stores`, each with its pre-marking, and closes cnlic. Raises the
// components' errors (a NULL name, host or database among them); the
// stores added before the error stay in `stores`. cn is left open.
void ListStores(const SchedulerDatabase& db, const InstallationIdentity& identity, const CustomerLocation& customer,
                StoreList& stores);

// The pre-marking of one store: whether `taxasiva` has any row for it,
// executed or not.
bool HasPendingChanges(const SchedulerDatabase& db, const std::string& host, const std::string& database);

}  // namespace app
