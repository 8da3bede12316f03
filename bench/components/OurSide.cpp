// Our side: TMyConnection and TMyQuery, fields read through FieldNamed.

#include <string>

#include "BenchSides.h"
#include "components/MyAccess.h"

namespace bench {
namespace {

void Configure(da::TMyConnection& cn, const ServerAddress& s) {
  cn.SetLoginPrompt(false);
  cn.SetServer(s.host);
  cn.SetPort(s.port);
  cn.SetUsername(s.user);
  cn.SetPassword(s.password);
  cn.SetDatabase(s.database);
}

class OurInserterImpl : public Inserter {
 public:
  explicit OurInserterImpl(const ServerAddress& s) {
    Configure(cn_, s);
    cn_.Connect();
    q_.SetConnection(&cn_);
    q_.SetSQLText("INSERT INTO bench_comp_ins VALUES (:id, :v)");
    id_ = &q_.ParamNamed("id");
    v_ = &q_.ParamNamed("v");
  }
  void Insert(int id, const std::string& value) override {
    id_->SetAsInteger(id);
    v_->SetAsString(value);
    q_.Execute();
  }

 private:
  da::TMyConnection cn_;
  da::TMyQuery q_;
  da::TDAParam* id_ = nullptr;  // owned by q_
  da::TDAParam* v_ = nullptr;   // owned by q_
};

}  // namespace

Sums OurRead(const ServerAddress& s, const char* sql) {
  da::TMyConnection cn;
  Configure(cn, s);
  da::TMyQuery q;
  q.SetConnection(&cn);
  q.SetSQLText(sql);
  q.Open();
  const da::TField& id = q.FieldNamed("id");
  const da::TField& name = q.FieldNamed("name");
  const da::TField& created = q.FieldNamed("created");
  const da::TField& amount = q.FieldNamed("amount");
  Sums sums;
  for (; !q.Eof(); q.Next()) {
    sums.ids += id.AsInteger();
    sums.nameBytes += static_cast<int64_t>(name.AsString().size());
    sums.dates += created.AsDateTime();
    sums.amounts += amount.AsFloat();
    ++sums.rows;
  }
  q.Close();
  return sums;
}

std::unique_ptr<Inserter> OurInserter(const ServerAddress& s) { return std::make_unique<OurInserterImpl>(s); }

}  // namespace bench
