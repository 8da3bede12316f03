// myquery: its command line, its statement splitting, and the program run
// end to end against the real server.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComponentTestSupport.h"
#include "MyQueryArgs.h"
#include "MyQueryProgram.h"
#include "MyQueryRun.h"

namespace {

using namespace myquery;
using componenttest::Exec;
using componenttest::NewConnection;

std::optional<std::string> NoEnv(const char*) { return std::nullopt; }
std::optional<std::string> PwdEnv(const char* name) {
  if (std::string(name) == "MYSQL_PWD") return std::string("from-env");
  return std::nullopt;
}

TEST(MyQueryArgsTest, OptionsAsTheFamiliarClientSpellsThem) {
  Options o = ParseArgs({"-h", "db1", "-P3307", "--user=ana", "-psecret", "-D", "loja", "-e", "SELECT 1", "-C",
                         "--protocol=TCP", "--ssl-ca=/ca.pem", "--param", "id:int=42", "--param=s=a=b"},
                        &NoEnv);
  EXPECT_EQ(o.host, "db1");
  EXPECT_EQ(o.port, 3307);
  EXPECT_EQ(o.user, "ana");
  EXPECT_EQ(o.password, "secret");
  EXPECT_FALSE(o.askPassword);
  EXPECT_EQ(o.database, "loja");
  EXPECT_EQ(o.execute, std::vector<std::string>{"SELECT 1"});
  EXPECT_TRUE(o.compress);
  EXPECT_EQ(o.protocol, "tcp");
  EXPECT_EQ(o.sslCa, "/ca.pem");
  ASSERT_EQ(o.params.size(), 2u);
  EXPECT_EQ(o.params[0].name, "id");
  EXPECT_EQ(o.params[0].value, da::Variant(int32_t{42}));
  EXPECT_EQ(o.params[1].name, "s");
  EXPECT_EQ(o.params[1].value, da::Variant("a=b"));

  Options ask = ParseArgs({"-p", "-uroot", "--host=h", "--port", "1", "loja"}, &PwdEnv);
  EXPECT_TRUE(ask.askPassword);
  EXPECT_FALSE(ask.password.has_value());  // -p alone asks; MYSQL_PWD is not used
  EXPECT_EQ(ask.database, "loja");
  EXPECT_EQ(ParseArgs({"-uroot"}, &PwdEnv).password, "from-env");
  EXPECT_EQ(ParseArgs({"--password=x"}, &PwdEnv).password, "x");
  EXPECT_TRUE(ParseArgs({"--help"}, &NoEnv).help);
}

TEST(MyQueryArgsTest, BadCommandLinesSayWhy) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port=abc"}, {"-P"}, {"--frobnicate"}, {"--protocol=carrier-pigeon"}, {"--param", "noequals"},
      {"--param", "n:int=4x"}, {"--param", "d:date=2024-13-01"}, {"--param", "x:colour=red"}, {"a", "b"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseArgs(args, &NoEnv), UsageError) << args[0];
}

TEST(MyQueryArgsTest, ParamTypes) {
  EXPECT_EQ(ParseParam("a=x").value, da::Variant("x"));
  EXPECT_EQ(ParseParam("a:bigint=-5000000000").value, da::Variant(int64_t{-5000000000LL}));
  EXPECT_EQ(ParseParam("a:float=2.5").value, da::Variant(2.5));
  EXPECT_EQ(ParseParam("a:bool=true").value, da::Variant(true));
  EXPECT_TRUE(ParseParam("a:null=").value.IsNull());
  EXPECT_EQ(ParseParam("a:datetime=2024-02-29 10:11:12").value.AsDateTime(),
            da::EncodeDate(2024, 2, 29) + da::EncodeTime(10, 11, 12, 0));
  EXPECT_EQ(ParseParam("a:date=2024-02-29").value.AsDateTime(), da::EncodeDate(2024, 2, 29));
}

TEST(MyQueryArgsTest, StatementsSplitOutsideQuotesAndComments) {
  EXPECT_EQ(SplitStatements("SELECT 1; SELECT 2;\n;"), (std::vector<std::string>{"SELECT 1", "SELECT 2"}));
  EXPECT_EQ(SplitStatements("SELECT ';', \"a;b\", `c;d`, 'it\\';s' -- x;y\n; /* ; */ DO 1"),
            (std::vector<std::string>{"SELECT ';', \"a;b\", `c;d`, 'it\\';s' -- x;y", "/* ; */ DO 1"}));
  EXPECT_EQ(SplitStatements("SELECT 'a''b;' # c;\n"), (std::vector<std::string>{"SELECT 'a''b;' # c;"}));
  EXPECT_EQ(SplitStatements("SELECT 1--1;SELECT 2"), (std::vector<std::string>{"SELECT 1--1", "SELECT 2"}));
  EXPECT_TRUE(SplitStatements("  \n ; ").empty());
}

TEST(MyQueryArgsTest, ErrorMessagesOnOneLine) {
  EXPECT_EQ(DisplayMessage("\r\n#28000Access denied"), "Access denied");
  EXPECT_EQ(DisplayMessage("Can't connect to MySQL server on 'h' (10061)\r\nConnection refused"),
            "Can't connect to MySQL server on 'h' (10061): Connection refused");
  EXPECT_EQ(DisplayMessage("plain"), "plain");
  EXPECT_EQ(DisplayMessage(""), "");
}

TEST(MyQueryArgsTest, ValuesAreEscapedOnTheirLine) {
  EXPECT_EQ(EscapeValue(std::string("a\tb\nc\\d\re\0f", 11)), "a\\tb\\nc\\\\d\\re\\0f");
}

// --- The program -----------------------------------------------------------

using myquerytest::RunMyQuery;
using myquerytest::RunResult;

class MyQueryProgramTest : public testsupport::ServerTest {
 protected:
  std::vector<std::string> Login() const {
    return {"-h", server().host, "-P", std::to_string(server().port), "-u", server().user, "-p" + server().password,
            "-D", server().database};
  }
  std::vector<std::string> With(std::vector<std::string> more) const {
    std::vector<std::string> a = Login();
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
};

TEST_F(MyQueryProgramTest, SelectOfEveryColumnType) {
  auto cn = NewConnection(server());
  Exec(*cn, "DROP TABLE IF EXISTS i11_types");
  Exec(*cn,
       "CREATE TABLE i11_types (ti TINYINT(1), si SMALLINT, mi MEDIUMINT, i INT, bi BIGINT, iu INT UNSIGNED, "
       "f FLOAT, d DOUBLE, de DECIMAL(10,2), dt DATE, tm TIME, dtt DATETIME, ts TIMESTAMP NULL, y YEAR, "
       "c CHAR(3), vc VARCHAR(20), tx TEXT, bl BLOB, bn BINARY(2), vb VARBINARY(4), en ENUM('one','two'), "
       "st SET('a','b'), bt BIT(8), dw DECIMAL(30,10))");
  Exec(*cn,
       "INSERT INTO i11_types VALUES (1, -2, 3, 4, 5000000000, 4294967295, 1.5, 2.25, 12.50, '2024-01-31', "
       "'-01:02:03', '2024-12-31 23:59:59', '2020-02-29 12:00:00', 2024, 'abc', 'x y', 'line1\\nline2', "
       "'b\\tb', 'ab', 'cd', 'two', 'a,b', b'101', 12345678901234567890.0123456789)");
  Exec(*cn, "INSERT INTO i11_types () VALUES ()");
  RunResult r = RunMyQuery(With({"-e", "SELECT * FROM i11_types"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "ti\tsi\tmi\ti\tbi\tiu\tf\td\tde\tdt\ttm\tdtt\tts\ty\tc\tvc\ttx\tbl\tbn\tvb\ten\tst\tbt\tdw\n"
            "1\t-2\t3\t4\t5000000000\t4294967295\t1.5\t2.25\t12.50\t2024-01-31\t-01:02:03\t2024-12-31 23:59:59\t"
            "2020-02-29 12:00:00\t2024\tabc\tx y\tline1\\nline2\tb\\tb\tab\tcd\ttwo\ta,b\t\x05\t"
            "12345678901234567890.0123456789\n"
            "\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t"
            "\\N\t\\N\t\\N\n");
  Exec(*cn, "DROP TABLE i11_types");
}

TEST_F(MyQueryProgramTest, InsertWithParametersKeepsQuotesAndBackslashes) {
  auto cn = NewConnection(server());
  Exec(*cn, "DROP TABLE IF EXISTS i11_mq");
  Exec(*cn, "CREATE TABLE i11_mq (id INT AUTO_INCREMENT PRIMARY KEY, s VARCHAR(100), n INT, d DATETIME)");
  const std::string nasty = "it's \"quoted\" \\ back\\slash \\' --; #";
  RunResult r = RunMyQuery(With({"--param", "s=" + nasty, "--param", "n:int=-7", "--param",
                                 "d:datetime=2024-02-29 10:11:12", "-e", "INSERT INTO i11_mq (s, n, d) VALUES (:s, :n, :d)"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Query OK, 1 row affected, insert id 1\n");
  da::TMyQuery q;
  q.SetConnection(cn.get());
  q.SetSQLText("SELECT s, n, DATE_FORMAT(d, '%Y%m%d%H%i%s') AS d FROM i11_mq");
  q.Open();
  EXPECT_EQ(q.FieldNamed("s").AsString(), nasty);
  EXPECT_EQ(q.FieldNamed("n").AsInteger(), -7);
  EXPECT_EQ(q.FieldNamed("d").AsString(), "20240229101112");
  q.Close();
  Exec(*cn, "DROP TABLE i11_mq");
}

TEST_F(MyQueryProgramTest, ABatchOfTwoStatementsFromStandardInput) {
  auto cn = NewConnection(server());
  Exec(*cn, "DROP TABLE IF EXISTS i11_batch");
  Exec(*cn, "CREATE TABLE i11_batch (id INT AUTO_INCREMENT PRIMARY KEY, s VARCHAR(10))");
  RunResult r = RunMyQuery(Login(), "INSERT INTO i11_batch (s) VALUES ('a;b'), ('c');\nSELECT id, s FROM i11_batch ORDER BY id;\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Query OK, 2 rows affected, insert id 1\nid\ts\n1\ta;b\n2\tc\n");
  Exec(*cn, "DROP TABLE i11_batch");
}

TEST_F(MyQueryProgramTest, PasswordFromTheEnvironment) {
  std::vector<std::string> args = {"-h", server().host, "-P", std::to_string(server().port), "-u", server().user,
                                   "-e", "SELECT 6*7 AS answer"};
  RunResult r = RunMyQuery(args, {}, "MYSQL_PWD=" + myquerytest::ShellQuote(server().password));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "answer\n42\n");
}

TEST_F(MyQueryProgramTest, AWrongPasswordIsTheServersError) {
  RunResult r = RunMyQuery({"-h", server().host, "-P", std::to_string(server().port), "-u", server().user,
                            "-pwrong", "-e", "SELECT 1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("ERROR 1045: Access denied for user '" + server().user + "'", 0), 0u) << r.err;
}

TEST_F(MyQueryProgramTest, AClosedPortIsAClientError) {
  RunResult r = RunMyQuery({"-h", "127.0.0.1", "-P", "1", "-u", "x", "-e", "SELECT 1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("ERROR 2003: ", 0), 0u) << r.err;
}

TEST_F(MyQueryProgramTest, AnErrorStopsTheBatchWithStatusOne) {
  RunResult r = RunMyQuery(With({"-e", "SELECT 1 AS a; SELECT * FROM no_such_table_i11; SELECT 2 AS b"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "a\n1\n");
  EXPECT_EQ(r.err.rfind("ERROR 1146: ", 0), 0u) << r.err;
}

TEST(MyQueryProgram, HelpAndUsage) {
  RunResult h = RunMyQuery({"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("--param NAME[:TYPE]=VALUE"), std::string::npos);
  RunResult u = RunMyQuery({"--bogus"});
  EXPECT_EQ(u.status, 1);
  EXPECT_NE(u.err.find("unknown option --bogus"), std::string::npos) << u.err;
}

}  // namespace
