#include "MyQueryRun.h"

#include <ostream>

#include "common/DAErrors.h"
#include "components/MyAccess.h"

namespace myquery {
namespace {

using namespace da;

TMyProtocol ProtocolOf(const std::string& name) {
  if (name == "tcp") return mpTCP;
  if (name == "socket") return mpSocket;
  if (name == "pipe") return mpPipe;
  if (name == "memory") return mpMemory;
  if (name == "ssl") return mpSSL;
  if (name == "http") return mpHttp;
  return mpDefault;
}

void Configure(TMyConnection& cn, const Options& o) {
  cn.SetName("myquery");
  cn.SetLoginPrompt(false);
  // The local socket's path travels in Server, after a comma.
  cn.SetServer(o.socket.empty() ? o.host : o.host + "," + o.socket);
  cn.SetPort(o.port);
  cn.SetUsername(o.user);
  cn.SetPassword(o.password.value_or(""));
  cn.SetDatabase(o.database);
  cn.SetConnectionTimeout(o.connectTimeout);
  cn.Options().SetCompress(o.compress);
  TMyProtocol protocol = ProtocolOf(o.protocol);
  const bool ssl = !o.sslCa.empty() || !o.sslCert.empty() || !o.sslKey.empty() || !o.sslCipher.empty();
  if (protocol == mpDefault && ssl) protocol = mpSSL;
  cn.Options().SetProtocol(protocol);
  if (ssl) cn.SetSSLOptions({o.sslCipher, o.sslCa, o.sslKey, o.sslCert});
  if (!o.httpUrl.empty() || !o.httpUser.empty()) {
    TMyHttpOptions http;
    http.Url = o.httpUrl;
    http.Username = o.httpUser;
    http.Password = o.httpPassword;
    http.ProxyOptions.Hostname = o.httpProxyHost;
    http.ProxyOptions.Port = o.httpProxyPort;
    http.ProxyOptions.Username = o.httpProxyUser;
    http.ProxyOptions.Password = o.httpProxyPassword;
    cn.SetHttpOptions(http);
  }
  cn.Options().SetAuthPlugin(o.defaultAuth);
  cn.Options().SetServerPublicKeyFile(o.serverPublicKeyPath);
  cn.Options().SetGetServerPublicKey(o.getServerPublicKey);
}

void PrintRows(TMyQuery& q, std::ostream& out) {
  for (int i = 0; i < q.FieldCount(); ++i) out << (i ? "\t" : "") << q.Fields(i).FieldName();
  out << "\n";
  for (; !q.Eof(); q.Next()) {
    if (q.HasNoRows()) break;
    for (int i = 0; i < q.FieldCount(); ++i) {
      const TField& f = q.Fields(i);
      out << (i ? "\t" : "") << (f.IsNull() ? std::string("\\N") : EscapeValue(f.AsString()));
    }
    out << "\n";
  }
}

}  // namespace

std::string DisplayMessage(const std::string& message) {
  std::string m = message;
  // A server error arrives as an empty client text, CR LF, the SQL state
  // after "#" and the server's words; one line without the state reads best.
  size_t start = m.find_first_not_of("\r\n");
  m.erase(0, start == std::string::npos ? m.size() : start);
  if (m.size() >= 6 && m[0] == '#') m.erase(0, 6);
  std::string out;
  for (size_t i = 0; i < m.size(); ++i) {
    if (m[i] == '\r' || m[i] == '\n') {
      while (i + 1 < m.size() && (m[i + 1] == '\r' || m[i + 1] == '\n')) ++i;
      if (i + 1 < m.size()) out += ": ";
    } else {
      out += m[i];
    }
  }
  return out;
}

std::string EscapeValue(const std::string& value) {
  std::string s;
  s.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\t': s += "\\t"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\0': s += "\\0"; break;
      case '\\': s += "\\\\"; break;
      default: s += c;
    }
  }
  return s;
}

int Run(const Options& options, const std::string& statements, std::ostream& out, std::ostream& err) {
  try {
    TMyConnection cn;
    Configure(cn, options);
    cn.SetConnected(true);
    TMyQuery q;
    q.SetName("query");
    q.SetConnection(&cn);
    q.Options().SetEnableBoolean(false);  // TINYINT(1) prints as the number it is
    // Values print as the server wrote them: a DECIMAL keeps every digit and
    // its scale, a float no more digits than it has.
    q.Options().SetFieldsAsString(true);
    for (const std::string& sql : SplitStatements(statements)) {
      q.Close();
      q.SetSQLText(sql);
      for (const ParamArg& p : options.params)
        if (TDAParam* param = q.FindParam(p.name)) param->SetValue(p.value);
      q.Execute();
      if (q.Active()) {
        PrintRows(q, out);
        q.Close();
      } else {
        out << "Query OK, " << q.AffectedRows() << (q.AffectedRows() == 1 ? " row" : " rows")
            << " affected, insert id " << q.InsertId() << "\n";
      }
      out.flush();
    }
    return 0;
  } catch (const EDAError& e) {
    err << "ERROR " << e.ErrorCode() << ": " << DisplayMessage(e.Message()) << "\n";
  } catch (const EAbort&) {
    err << "ERROR: aborted\n";
  } catch (const Exception& e) {
    err << "ERROR: " << DisplayMessage(e.Message()) << "\n";
  } catch (const std::exception& e) {
    err << "ERROR: " << e.what() << "\n";
  }
  return 1;
}

}  // namespace myquery
