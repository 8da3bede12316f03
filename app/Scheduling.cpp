#include "Scheduling.h"

#include "components/MyAccess.h"

namespace app {
namespace {

void SetDeleteParams(const SchedulerDatabase& db, const std::string& host, const std::string& database,
                     int oldRate) {
  db.q_delmarc->ParamNamed("servidor").SetValue(da::Variant(host));
  db.q_delmarc->ParamNamed("basedados").SetValue(da::Variant(database));
  db.q_delmarc->ParamNamed("anterior").SetValue(da::Variant(int32_t{oldRate}));
}

void SetInsertParams(const SchedulerDatabase& db, const StoreRef& store, const RateChange& change) {
  da::TMyQuery& q = *db.q_addmarc;
  q.ParamNamed("servidor").SetValue(da::Variant(store.host));
  q.ParamNamed("basedados").SetValue(da::Variant(store.database));
  q.ParamNamed("cliente").SetValue(da::Variant(store.entry));
  q.ParamNamed("opvenda").SetValue(da::Variant(int32_t{change.updateSalePrices}));
  q.ParamNamed("opcompra").SetValue(da::Variant(int32_t{0}));
  q.ParamNamed("oparredondar").SetValue(da::Variant(int32_t{change.roundPrices}));
  q.ParamNamed("casasdecimais").SetValue(da::Variant(int32_t{change.decimalPlaces}));
  q.ParamNamed("anterior").SetValue(da::Variant(int32_t{change.oldRate}));
  q.ParamNamed("nova").SetValue(da::Variant(int32_t{change.newRate}));
  q.ParamNamed("opnovataxa").SetValue(da::Variant(int32_t{change.keepOldRate}));
  q.ParamNamed("descricaoiva").SetValue(da::Variant(change.description));
  q.ParamNamed("datahora").SetValue(da::Variant::FromDateTime(change.moment));
}

}  // namespace

void ScheduleStore(const SchedulerDatabase& db, const StoreRef& store, const RateChange& change) {
  da::TMyConnection& cnlic = *db.cnlic;
  cnlic.SetConnected(true);
  cnlic.StartTransaction();
  try {
    SetDeleteParams(db, store.host, store.database, change.oldRate);
    db.q_delmarc->Execute();
    SetInsertParams(db, store, change);
    db.q_addmarc->Execute();
    cnlic.Commit();
  } catch (...) {
    // The server rolls back by itself a transaction whose session is gone;
    // on a session that still works the rollback is ours to send. Its own
    // failure must not hide the error that caused it.
    try {
      if (cnlic.Connected() && cnlic.InTransaction()) cnlic.Rollback();
    } catch (...) {
    }
    if (cnlic.InTransaction()) cnlic.OwnTransaction().ResetToInactive();
    throw;
  }
}

void RemoveScheduled(const SchedulerDatabase& db, const std::string& host, const std::string& database,
                     int oldRate) {
  SetDeleteParams(db, host, database, oldRate);
  db.q_delmarc->Execute();
}

}  // namespace app
