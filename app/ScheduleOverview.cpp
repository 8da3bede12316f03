#include "ScheduleOverview.h"

#include "StoreDiscovery.h"
#include "components/MyAccess.h"

namespace app {
namespace {

// Adds every row of the store (host, database) to the overview.
void AddStoreRows(const SchedulerDatabase& db, const std::string& host, const std::string& database,
                  OverviewList& overview) {
  da::TMyQuery& q = *db.q_marcados;
  q.ParamNamed("server").SetValue(da::Variant(host));
  q.ParamNamed("database").SetValue(da::Variant(database));
  q.Open();
  while (!q.Eof()) {
    const std::string oldRate = q.FieldNamed("anterior").AsString();
    overview.entries.push_back(OverviewEntry(oldRate, q.FieldNamed("nova").AsString(),
                                             q.FieldNamed("datahora").AsDateTime(), q.FieldNamed("cliente").AsString()));
    overview.databases.push_back(q.FieldNamed("basedados").AsString());
    overview.hosts.push_back(q.FieldNamed("servidor").AsString());
    overview.oldRates.push_back(oldRate);
    q.Next();
  }
  q.Close();
}

}  // namespace

void LoadOverview(const SchedulerDatabase& db, OverviewList& overview) {
  db.cnlic->SetConnected(true);
  db.cn->SetConnected(true);
  AddStoreRows(db, db.cn->Server(), db.cn->Database(), overview);
  db.q->SQL().SetText(kPartnerStoresSQL);
  db.q->Open();
  while (!db.q->Eof()) {
    const std::string host = TrimText(VariantText(db.q->FieldNamed("host").Value()));
    const std::string database = TrimText(VariantText(db.q->FieldNamed("basedados").Value()));
    AddStoreRows(db, host, database, overview);
    db.q->Next();
  }
  db.q->Close();
  db.cn->SetConnected(false);
  db.cnlic->SetConnected(false);
}

}  // namespace app
