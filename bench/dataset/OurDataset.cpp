// Our side: the driver connection, the MySQL record set and the dataset
// over it, as a query uses them.
#include <stdexcept>

#include "DatasetSide.h"
#include "common/Exception.h"
#include "driver/CRAccess.h"
#include "driver/MemDS.h"
#include "driver/MyClasses.h"
#include "driver/MyRecordSet.h"

namespace bench {
namespace {

class Query : public da::TMemDataSet {
 public:
  Query(da::TMySQLConnection& connection, const std::string& sql, bool forwardOnly) {
    rs.SetConnection(&connection);
    // The query component's defaults, or forward-only reading on demand.
    rs.SetProp(da::propFlatBuffers, false);
    rs.SetProp(da::propFetchAll, !forwardOnly);
    rs.SetProp(da::propUniDirectional, forwardOnly);
    rs.GetCommand()->SetSQL(sql);
    SetData(&rs);
  }
  ~Query() override { Close(); }
  da::TMySQLRecordset rs;
};

void Connect(da::TMySQLConnection& c, const ServerAddress& s) {
  c.PutServer(s.host);
  c.PutUsername(s.user);
  c.PutPassword(s.password);
  c.SetProp(da::propPort, int32_t{s.port});
  c.SetProp(da::propDatabase, s.database);
  c.Connect();
}

// A statement without a time-out (RunStatement allows the connection's
// time-out, too short for filling a million rows on a busy machine).
void Run(da::TMySQLConnection& c, const std::string& sql) {
  da::TMySQLCommand command;
  command.SetConnection(&c);
  command.SetSQL(sql);
  command.Execute();
}

}  // namespace

void PrepareTable(const ServerAddress& server, uint64_t rows) {
  da::TMySQLConnection c;
  Connect(c, server);
  Run(c, 
      "CREATE TABLE IF NOT EXISTS bench_dataset_rows (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, "
      "created DATETIME NOT NULL, amount DOUBLE NOT NULL) ENGINE=InnoDB");
  Run(c, "TRUNCATE TABLE bench_dataset_rows");
  Run(c, "INSERT INTO bench_dataset_rows SELECT seq, LPAD(CONCAT('name-', seq), 40, 'x'), "
                 "'2026-01-01 00:00:00' + INTERVAL seq SECOND, seq * 1.25 FROM seq_1_to_" +
                 std::to_string(rows));
}

WalkSums OurWalk(const ServerAddress& server, bool forwardOnly, uint64_t limit) {
  try {
    da::TMySQLConnection c;
    Connect(c, server);
    Query q(c, SelectRows(limit), forwardOnly);
    q.Open();
    da::TField& id = q.FieldNamed("id");
    da::TField& name = q.FieldNamed("name");
    da::TField& created = q.FieldNamed("created");
    da::TField& amount = q.FieldNamed("amount");
    WalkSums s;
    for (; !q.Eof(); q.Next()) {
      s.ints += id.AsInteger();
      const std::string text = name.AsString();
      s.textBytes += text.size() + static_cast<unsigned char>(text[text.size() / 2]);
      s.days += created.AsDateTime();
      s.amounts += amount.AsFloat();
      ++s.rows;
    }
    return s;
  } catch (const da::Exception& e) {
    throw std::runtime_error("ours: " + e.Message());
  }
}

}  // namespace bench
