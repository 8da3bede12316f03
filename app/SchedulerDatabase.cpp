#include "SchedulerDatabase.h"

#include <initializer_list>
#include <utility>

#include "components/MyAccess.h"

namespace app {
namespace {

constexpr int kTextFieldSize = 255;

da::TMyConnection* NewConnection(da::TComponent& owner, const char* name) {
  auto* connection = new da::TMyConnection(&owner);
  connection->SetName(name);
  connection->SetLoginPrompt(false);
  return connection;
}

struct ParamType {
  const char* name;
  da::TFieldType type;
};

// A query on `connection` with its statement lines (joined by CR LF) and
// the types of its parameters, all of them input parameters.
da::TMyQuery* NewQuery(da::TComponent& owner, const char* name, da::TMyConnection* connection,
                       std::initializer_list<const char*> lines, std::initializer_list<ParamType> params) {
  auto* query = new da::TMyQuery(&owner);
  query->SetName(name);
  query->SetConnection(connection);
  query->SQL().BeginUpdate();
  for (const char* line : lines) query->SQL().Add(line);
  query->SQL().EndUpdate();
  for (const ParamType& p : params) {
    da::TDAParam& param = query->ParamNamed(p.name);
    param.SetDataType(p.type);
    param.SetParamType(da::ptInput);
  }
  return query;
}

void DeclareFields(da::TMyQuery* query, std::initializer_list<std::pair<const char*, da::TFieldType>> fields) {
  for (const auto& [name, type] : fields)
    query->AddField(name, type, type == da::ftString ? kTextFieldSize : 0);
}

}  // namespace

SchedulerDatabase CreateSchedulerDatabase(da::TComponent& owner) {
  using namespace da;
  SchedulerDatabase db;
  db.cn = NewConnection(owner, "cn");
  db.cnlic = NewConnection(owner, "cnlic");

  db.q_ligacoes = NewQuery(owner, "q_ligacoes", db.cnlic, {"SELECT bd, host FROM ligacoes", "WHERE serial = :serial"},
                           {{"serial", ftString}});
  DeclareFields(db.q_ligacoes, {{"bd", ftString}, {"host", ftString}});

  db.q = NewQuery(owner, "q", db.cn, {}, {});

  db.q_marc = NewQuery(owner, "q_marc", db.cnlic,
                       {"SELECT DISTINCT servidor, basedados, cliente FROM taxasiva WHERE servidor=:server AND "
                        "basedados=:database ORDER BY cliente"},
                       {{"server", ftString}, {"database", ftString}});
  DeclareFields(db.q_marc, {{"servidor", ftString}, {"basedados", ftString}, {"cliente", ftString}});

  db.q_marcados = NewQuery(owner, "q_marcados", db.cnlic,
                           {"SELECT * FROM taxasiva WHERE servidor=:server AND basedados=:database ORDER BY anterior"},
                           {{"server", ftString}, {"database", ftString}});
  DeclareFields(db.q_marcados, {{"servidor", ftString},
                                {"basedados", ftString},
                                {"cliente", ftString},
                                {"opvenda", ftInteger},
                                {"opcompra", ftInteger},
                                {"oparredondar", ftInteger},
                                {"opnovataxa", ftInteger},
                                {"descricaoiva", ftString},
                                {"casasdecimais", ftInteger},
                                {"anterior", ftInteger},
                                {"nova", ftInteger},
                                {"datahora", ftDateTime},
                                {"executado", ftInteger},
                                {"inicioexecucao", ftDateTime},
                                {"fimexecucao", ftDateTime}});

  db.q_delmarc = NewQuery(owner, "q_delmarc", db.cnlic,
                          {"DELETE FROM taxasiva WHERE servidor=:servidor AND basedados=:basedados AND "
                           "anterior=:anterior"},
                          {{"servidor", ftString}, {"basedados", ftString}, {"anterior", ftInteger}});

  db.q_addmarc = NewQuery(
      owner, "q_addmarc", db.cnlic,
      {"INSERT INTO taxasiva (servidor, basedados, cliente, opvenda, opcompra, opnovataxa, descricaoiva, "
       "oparredondar, casasdecimais, anterior, nova, datahora, executado)",
       "VALUES (:servidor, :basedados, :cliente, :opvenda, :opcompra, :opnovataxa, :descricaoiva, :oparredondar, "
       ":casasdecimais, :anterior, :nova, :datahora, 0)"},
      {{"servidor", ftString},
       {"basedados", ftString},
       {"cliente", ftString},
       {"opvenda", ftInteger},
       {"opcompra", ftInteger},
       {"opnovataxa", ftSmallint},
       {"descricaoiva", ftString},
       {"oparredondar", ftInteger},
       {"casasdecimais", ftInteger},
       {"anterior", ftInteger},
       {"nova", ftInteger},
       {"datahora", ftDateTime}});
  return db;
}

void ApplyDeployment(const SchedulerDatabase& db, const DeploymentSettings& settings) {
  for (da::TMyConnection* connection : {db.cnlic, db.cn}) {
    connection->SetServer(settings.host);
    connection->SetDatabase(settings.database);
    connection->SetUsername(settings.user);
    connection->SetPassword(settings.password);
    connection->SetPort(settings.port);
  }
}

}  // namespace app
