#include "StoreDiscovery.h"

#include "components/MyAccess.h"

namespace app {

CustomerLocation LookUpCustomer(const SchedulerDatabase& db, const std::string& serial) {
  db.cnlic->SetConnected(true);
  db.q_ligacoes->ParamNamed("serial").SetValue(da::Variant(serial));
  db.q_ligacoes->Open();
  CustomerLocation customer;
  customer.database = TrimText(db.q_ligacoes->FieldNamed("bd").AsString());
  customer.host = TrimText(db.q_ligacoes->FieldNamed("host").AsString());
  db.q_ligacoes->Close();
  return customer;
}

bool HasPendingChanges(const SchedulerDatabase& db, const std::string& host, const std::string& database) {
  db.q_marc->ParamNamed("server").SetValue(da::Variant(host));
  db.q_marc->ParamNamed("database").SetValue(da::Variant(database));
  db.q_marc->Open();
  const bool pending = !db.q_marc->HasNoRows();
  db.q_marc->Close();
  return pending;
}

void ListStores(const SchedulerDatabase& db, const InstallationIdentity& identity, const CustomerLocation& customer,
                StoreList& stores) {
  auto add = [&stores](std::string entry, std::string database, std::string host) {
    stores.entries.push_back(std::move(entry));
    stores.databases.push_back(std::move(database));
    stores.hosts.push_back(std::move(host));
    stores.checked.push_back(false);
  };
  db.cn->SetServer(customer.host);
  db.cn->SetDatabase(customer.database);
  db.cn->SetConnected(true);
  add(OwnStoreEntry(identity.companyName, identity.serial), customer.database, customer.host);
  stores.checked.back() = HasPendingChanges(db, customer.host, customer.database);

  db.q->SQL().SetText(kPartnerStoresSQL);
  db.q->Open();
  while (!db.q->Eof()) {
    std::string name = VariantText(db.q->FieldNamed("nome").Value());
    std::string database = TrimText(VariantText(db.q->FieldNamed("basedados").Value()));
    std::string host = TrimText(VariantText(db.q->FieldNamed("host").Value()));
    add(std::move(name), database, host);
    stores.checked.back() = HasPendingChanges(db, host, database);
    db.q->Next();
  }
  db.q->Close();
  db.cnlic->SetConnected(false);
}

}  // namespace app
