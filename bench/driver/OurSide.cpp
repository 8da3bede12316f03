// Our side: the driver command with two parameters, the way a query
// component runs it (values set, Execute; the literals are built by the
// command), over the driver connection.
#include <stdexcept>

#include "BenchSide.h"
#include "driver/MyClasses.h"
#include "mysql/MySqlApi.h"

namespace driverbench {
namespace {

class OurSide : public Side {
 public:
  explicit OurSide(const Server& s) {
    connection_.PutServer(s.host);
    connection_.PutUsername(s.user);
    connection_.PutPassword(s.password);
    connection_.SetProp(da::propPort, s.port);
    connection_.SetProp(da::propDatabase, s.database);
    connection_.Connect();
    insert_.SetConnection(&connection_);
    insert_.SetSQL("INSERT INTO bench_drv VALUES (:id, :v)");
    insert_.Params()[0].SetDataType(da::dtInt32);
    insert_.Params()[1].SetDataType(da::dtString);
    plain_.SetConnection(&connection_);
    plain_.SetSQL("DO 1");
  }
  const char* Name() const override { return "ours"; }

  void Insert(int first, int count) override {
    for (int i = first; i < first + count; ++i) {
      insert_.Params()[0].SetValue(da::Variant(int32_t{i}));
      insert_.Params()[1].SetValue(da::Variant(ValueOf(i)));
      insert_.Execute();
      if (insert_.RowsAffected() != 1) throw std::runtime_error("ours: insert lost");
    }
  }

  void RoundTrips(int count) override {
    for (int i = 0; i < count; ++i) plain_.Execute();
  }

  void Run(const std::string& sql) override { connection_.RunStatement(sql); }

  std::string Scalar(const std::string& sql) override {
    da::TMySQLCommand query;
    query.SetConnection(&connection_);
    query.SetRequestResultset(true);
    query.SetSQL(sql);
    query.Execute();
    da::mysql::TMySQLAPI& api = connection_.API();
    std::string value;
    if (da::mysql::TMySqlBinds* row = api.FetchRowData(query.SQLResult())) {
      value = api.GetFieldText(row, 0);
      while (api.FetchRowData(query.SQLResult())) {
      }
    }
    api.mysql_free_result(query.SQLResult());
    query.SetSQLResult(nullptr);
    return value;
  }

 private:
  da::TMySQLConnection connection_;
  da::TMySQLCommand insert_;
  da::TMySQLCommand plain_;
};

}  // namespace

std::unique_ptr<Side> MakeOurSide(const Server& server) { return std::make_unique<OurSide>(server); }

}  // namespace driverbench
