#include "MyQueryArgs.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/AnsiCase.h"
#include "common/DateTime.h"

namespace myquery {
namespace {

int ParseInt(const std::string& text, const std::string& what) {
  if (text.empty()) throw UsageError(what + " needs a number");
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < 0 || v > 65535 * 1000L) throw UsageError(what + ": not a number: " + text);
  return static_cast<int>(v);
}

bool ParseDate(const std::string& text, bool withTime, da::TDateTime& out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (withTime ? (n != 3 && n != 6) : n != 3) return false;
  da::DateTimeParts parts{};
  parts.year = y;
  parts.month = mo;
  parts.day = d;
  parts.hour = h;
  parts.minute = mi;
  parts.second = s;
  return da::TryEncodeDateTime(parts, out);
}

}  // namespace

ParamArg ParseParam(const std::string& text) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError("--param needs NAME[:TYPE]=VALUE, got: " + text);
  std::string name = text.substr(0, eq);
  std::string value = text.substr(eq + 1);
  std::string type = "string";
  if (size_t colon = name.find(':'); colon != std::string::npos) {
    type = da::AnsiLowerCase(name.substr(colon + 1));
    name.resize(colon);
  }
  if (name.empty()) throw UsageError("--param without a name: " + text);
  ParamArg p{name, {}};
  if (type == "string" || type == "str" || type == "text") {
    p.value = da::Variant(value);
  } else if (type == "int" || type == "integer") {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || errno || *end || v < INT32_MIN || v > INT32_MAX)
      throw UsageError("--param " + name + ": not a 32-bit integer: " + value);
    p.value = da::Variant(static_cast<int32_t>(v));
  } else if (type == "bigint" || type == "int64") {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || errno || *end) throw UsageError("--param " + name + ": not an integer: " + value);
    p.value = da::Variant(static_cast<int64_t>(v));
  } else if (type == "float" || type == "double") {
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(value.c_str(), &end);
    if (value.empty() || errno || *end) throw UsageError("--param " + name + ": not a number: " + value);
    p.value = da::Variant(v);
  } else if (type == "date" || type == "datetime") {
    da::TDateTime dt = 0;
    if (!ParseDate(value, type == "datetime", dt))
      throw UsageError("--param " + name + ": not a " + type + " (YYYY-MM-DD" + (type == "datetime" ? "[ HH:MM:SS]" : "") +
                       "): " + value);
    p.value = da::Variant::FromDateTime(dt);
  } else if (type == "bool" || type == "boolean") {
    std::string v = da::AnsiLowerCase(value);
    if (v == "1" || v == "true") p.value = da::Variant(true);
    else if (v == "0" || v == "false") p.value = da::Variant(false);
    else throw UsageError("--param " + name + ": not a Boolean (true/false/1/0): " + value);
  } else if (type == "null") {
    p.value = da::Variant::Null();
  } else {
    throw UsageError("--param " + name + ": unknown type " + type +
                     " (string, int, bigint, float, date, datetime, bool, null)");
  }
  return p;
}

Options ParseArgs(const std::vector<std::string>& args, std::optional<std::string> (*env)(const char*)) {
  Options o;
  // Short options take their value attached (-hHOST) or as the next
  // argument (-h HOST); -p takes it attached only, since "-p" alone asks.
  auto takeValue = [&](size_t& i, const std::string& arg, const std::string& name, size_t prefix) -> std::string {
    if (arg.size() > prefix) {
      std::string v = arg.substr(prefix);
      if (!v.empty() && v[0] == '=') v.erase(0, 1);
      return v;
    }
    if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
    return args[++i];
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto longOpt = [&](const char* name) {
      const std::string n = std::string("--") + name;
      return a == n || a.rfind(n + "=", 0) == 0;
    };
    auto longValue = [&](const char* name) { return takeValue(i, a, std::string("--") + name, std::string("--").size() + std::strlen(name)); };
    if (a == "--help" || a == "-?") {
      o.help = true;
    } else if (longOpt("host")) {
      o.host = longValue("host");
    } else if (a.rfind("-h", 0) == 0 && a.rfind("--", 0) != 0) {
      o.host = takeValue(i, a, "-h", 2);
    } else if (longOpt("port")) {
      o.port = ParseInt(longValue("port"), "--port");
    } else if (a.rfind("-P", 0) == 0) {
      o.port = ParseInt(takeValue(i, a, "-P", 2), "-P");
    } else if (longOpt("user")) {
      o.user = longValue("user");
    } else if (a.rfind("-u", 0) == 0) {
      o.user = takeValue(i, a, "-u", 2);
    } else if (a == "--password" || a == "-p") {
      o.askPassword = true;
      o.password.reset();
    } else if (a.rfind("--password=", 0) == 0) {
      o.password = a.substr(11);
      o.askPassword = false;
    } else if (a.rfind("-p", 0) == 0) {
      o.password = a.substr(2);
      o.askPassword = false;
    } else if (longOpt("database")) {
      o.database = longValue("database");
    } else if (a.rfind("-D", 0) == 0) {
      o.database = takeValue(i, a, "-D", 2);
    } else if (longOpt("execute")) {
      o.execute.push_back(longValue("execute"));
    } else if (a.rfind("-e", 0) == 0) {
      o.execute.push_back(takeValue(i, a, "-e", 2));
    } else if (a == "--compress" || a == "-C") {
      o.compress = true;
    } else if (longOpt("protocol")) {
      o.protocol = da::AnsiLowerCase(longValue("protocol"));
      static const char* known[] = {"tcp", "socket", "pipe", "memory", "ssl", "http"};
      bool ok = false;
      for (const char* k : known) ok = ok || o.protocol == k;
      if (!ok) throw UsageError("--protocol: unknown protocol " + o.protocol + " (tcp, socket, pipe, memory, ssl, http)");
    } else if (longOpt("ssl-ca")) {
      o.sslCa = longValue("ssl-ca");
    } else if (longOpt("ssl-cert")) {
      o.sslCert = longValue("ssl-cert");
    } else if (longOpt("ssl-key")) {
      o.sslKey = longValue("ssl-key");
    } else if (longOpt("ssl-cipher")) {
      o.sslCipher = longValue("ssl-cipher");
    } else if (longOpt("http-url")) {
      o.httpUrl = longValue("http-url");
    } else if (longOpt("http-user")) {
      o.httpUser = longValue("http-user");
    } else if (longOpt("http-password")) {
      o.httpPassword = longValue("http-password");
    } else if (longOpt("http-proxy-host")) {
      o.httpProxyHost = longValue("http-proxy-host");
    } else if (longOpt("http-proxy-port")) {
      o.httpProxyPort = ParseInt(longValue("http-proxy-port"), "--http-proxy-port");
    } else if (longOpt("http-proxy-user")) {
      o.httpProxyUser = longValue("http-proxy-user");
    } else if (longOpt("http-proxy-password")) {
      o.httpProxyPassword = longValue("http-proxy-password");
    } else if (longOpt("socket")) {
      o.socket = longValue("socket");
      if (o.socket.empty()) throw UsageError("--socket needs a path");
    } else if (a.rfind("-S", 0) == 0) {
      o.socket = takeValue(i, a, "-S", 2);
      if (o.socket.empty()) throw UsageError("-S needs a path");
    } else if (longOpt("default-auth")) {
      o.defaultAuth = longValue("default-auth");
    } else if (longOpt("server-public-key-path")) {
      o.serverPublicKeyPath = longValue("server-public-key-path");
    } else if (a == "--get-server-public-key") {
      o.getServerPublicKey = true;
    } else if (a == "--no-get-server-public-key") {
      o.getServerPublicKey = false;
    } else if (longOpt("connect-timeout")) {
      o.connectTimeout = ParseInt(longValue("connect-timeout"), "--connect-timeout");
    } else if (longOpt("param")) {
      o.params.push_back(ParseParam(longValue("param")));
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("unknown option " + a + " (see --help)");
    } else if (o.database.empty()) {
      // A bare word names the database, as with the familiar client.
      o.database = a;
    } else {
      throw UsageError("unexpected argument " + a + " (see --help)");
    }
  }
  // The transport: one named by --protocol, else the one its options imply.
  const bool local = o.protocol == "socket" || o.protocol == "pipe";
  if (!o.socket.empty() && !o.protocol.empty() && !local)
    throw UsageError("--socket is for --protocol=socket or pipe, not " + o.protocol);
  if (!o.httpUrl.empty() && !o.protocol.empty() && o.protocol != "http")
    throw UsageError("--http-url is for --protocol=http, not " + o.protocol);
  if (o.protocol.empty() && !o.socket.empty()) o.protocol = "socket";
  if (o.protocol.empty() && !o.httpUrl.empty()) o.protocol = "http";
  if (o.protocol == "http" && o.httpUrl.empty()) throw UsageError("--protocol=http needs --http-url");
  if (!o.password && !o.askPassword && env)
    if (auto pwd = env("MYSQL_PWD")) o.password = *pwd;
  return o;
}

std::vector<std::string> SplitStatements(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    size_t b = cur.find_first_not_of(" \t\r\n");
    if (b != std::string::npos) {
      size_t e = cur.find_last_not_of(" \t\r\n");
      out.push_back(cur.substr(b, e - b + 1));
    }
    cur.clear();
  };
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c == '\'' || c == '"' || c == '`') {
      // A quoted run: backslash escapes inside string quotes, doubled quotes.
      cur += c;
      ++i;
      while (i < n) {
        char d = text[i];
        cur += d;
        if (d == '\\' && c != '`' && i + 1 < n) {
          cur += text[++i];
        } else if (d == c) {
          if (i + 1 < n && text[i + 1] == c) {
            cur += text[++i];
          } else {
            break;
          }
        }
        ++i;
      }
    } else if (c == '#' || (c == '-' && i + 2 < n + 1 && text.compare(i, 2, "--") == 0 &&
                            (i + 2 == n || text[i + 2] == ' ' || text[i + 2] == '\t' || text[i + 2] == '\n'))) {
      while (i < n && text[i] != '\n') cur += text[i++];
      if (i < n) cur += text[i];
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      size_t end = text.find("*/", i + 2);
      size_t stop = end == std::string::npos ? n : end + 2;
      cur.append(text, i, stop - i);
      i = stop - 1;
    } else if (c == ';') {
      flush();
    } else {
      cur += c;
    }
  }
  flush();
  return out;
}

std::string HelpText() {
  return "Usage: myquery [OPTIONS] [DATABASE]\n"
         "Runs SQL statements on a MySQL server and prints their results.\n"
         "Statements come from -e (several allowed) or, without -e, from standard input;\n"
         "statements are separated by ';'.\n"
         "\n"
         "  -h, --host=NAME         server host (default localhost)\n"
         "  -P, --port=N            TCP port (default 3306)\n"
         "  -u, --user=NAME         account name\n"
         "  -p, --password[=PASS]   password; -pPASS attached; -p alone asks on the terminal\n"
         "                          (MYSQL_PWD is used when no password option is given)\n"
         "  -D, --database=NAME     database to use\n"
         "  -e, --execute=SQL       run SQL and exit\n"
         "  -C, --compress          use the compressed protocol\n"
         "      --protocol=NAME     tcp (the default), socket or pipe (this machine's local\n"
         "                          socket), memory, ssl or http\n"
         "  -S, --socket=PATH       local socket for socket/pipe (implies --protocol=socket;\n"
         "                          default /run/mysqld/mysqld.sock)\n"
         "      --ssl-ca=FILE       CA certificate: the server's certificate must chain to it\n"
         "                          and name the host (any --ssl-* implies --protocol=ssl)\n"
         "      --ssl-cert=FILE     client certificate\n"
         "      --ssl-key=FILE      client key\n"
         "      --ssl-cipher=LIST   cipher list\n"
         "      --http-url=URL      tunnel script (implies --protocol=http)\n"
         "      --http-user=NAME, --http-password=PASS   the web server's Basic credentials\n"
         "      --http-proxy-host=NAME, --http-proxy-port=N,\n"
         "      --http-proxy-user=NAME, --http-proxy-password=PASS   HTTP proxy on the way\n"
         "      --default-auth=PLUGIN\n"
         "                          authentication plugin to announce at login\n"
         "                          (mysql_native_password, caching_sha2_password,\n"
         "                          mysql_clear_password: the last only over ssl or a socket)\n"
         "      --server-public-key-path=FILE\n"
         "                          PEM file with the server's RSA public key\n"
         "      --get-server-public-key, --no-get-server-public-key\n"
         "                          whether the key may be asked from the server when no\n"
         "                          file is given (default: --get-server-public-key)\n"
         "      --connect-timeout=S seconds allowed for connecting (default 15)\n"
         "      --param NAME[:TYPE]=VALUE\n"
         "                          value of the marker :NAME; TYPE is string (default),\n"
         "                          int, bigint, float, date, datetime, bool or null\n"
         "      --help              this text\n"
         "\n"
         "Rows are printed tab-separated under a header line; NULL prints as \\N, and a\n"
         "tab, line break or backslash inside a value as \\t, \\n, \\\\. A statement without\n"
         "rows prints its affected-row count and insert id. An error prints\n"
         "\"ERROR <code>: <message>\" on standard error and ends with exit status 1.\n";
}

}  // namespace myquery
