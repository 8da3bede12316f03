#include "MyQueryRun.h"

#include <cmath>
#include <cstdio>
#include <ostream>

#include "common/DAErrors.h"
#include "common/DateTime.h"
#include "components/MyAccess.h"

namespace myquery {
namespace {

using namespace da;

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FormatDate(TDateTime v) {
  int y, m, d;
  DecodeDate(v, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

// A TIME value: a signed count of days that may exceed one.
std::string FormatTime(TDateTime v) {
  long long total = std::llround(std::fabs(v) * 86400.0);
  std::string s = v < 0 ? "-" : "";
  s += TwoDigits(static_cast<int>(total / 3600));
  s += ":" + TwoDigits(static_cast<int>(total % 3600 / 60));
  s += ":" + TwoDigits(static_cast<int>(total % 60));
  return s;
}

std::string FormatField(const TField& f) {
  switch (f.DataType()) {
    case ftDate: return FormatDate(f.AsDateTime());
    case ftTime: return FormatTime(f.AsDateTime());
    case ftDateTime: {
      TDateTime v = f.AsDateTime();
      int h, mi, s, ms;
      DecodeTime(v, h, mi, s, ms);
      return FormatDate(v) + " " + TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
    }
    default: return f.AsString();
  }
}

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
      out << (i ? "\t" : "") << (f.IsNull() ? std::string("\\N") : EscapeValue(FormatField(f)));
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
