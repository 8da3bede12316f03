#pragma once
// The window's database components as its definition gives them: the two
// connections and the six queries, with their statements, parameter lists
// and declared result fields. Nothing connects here.
//
//   cnlic        the central database (deployment settings)
//   cn           the customer's own database; starts as the central one
//                and is re-pointed by store discovery
//   q_ligacoes   cnlic  the customer's database and host, by serial
//   q            cn     the partner stores (statement set before each use)
//   q_marc       cnlic  whether a store has rows in taxasiva
//   q_marcados   cnlic  the rows of one store
//   q_delmarc    cnlic  removes a store's rows for one old rate
//   q_addmarc    cnlic  schedules a change for one store

#include <string>

#include "Deployment.h"

namespace da {
class TComponent;
class TMyConnection;
class TMyQuery;
}  // namespace da

namespace app {

// The statement of `q`, put into it before each use.
inline constexpr const char* kPartnerStoresSQL = "SELECT * FROM parceiros ORDER BY nome";

// Borrowed pointers: the components belong to the owner given to
// CreateSchedulerDatabase and live as long as it does.
struct SchedulerDatabase {
  da::TMyConnection* cn = nullptr;
  da::TMyConnection* cnlic = nullptr;
  da::TMyQuery* q_ligacoes = nullptr;
  da::TMyQuery* q = nullptr;
  da::TMyQuery* q_marc = nullptr;
  da::TMyQuery* q_marcados = nullptr;
  da::TMyQuery* q_delmarc = nullptr;
  da::TMyQuery* q_addmarc = nullptr;
};

// Creates the components, owned by `owner`.
SchedulerDatabase CreateSchedulerDatabase(da::TComponent& owner);

// Points both connections at the central server, database and account of
// the deployment settings, with their port. The connections must be
// closed (they are, until the window first uses them).
void ApplyDeployment(const SchedulerDatabase& db, const DeploymentSettings& settings);

}  // namespace app
