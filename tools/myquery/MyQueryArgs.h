#pragma once
// The command line of myquery, spelled as the familiar client spells its
// options so that habits carry over.

#include <optional>
#include <string>
#include <vector>

#include "common/Variant.h"

namespace myquery {

// One --param NAME[:TYPE]=VALUE.
struct ParamArg {
  std::string name;
  da::Variant value;
};

struct Options {
  std::string host;      // empty: localhost
  int port = 3306;
  std::string user;
  std::optional<std::string> password;  // none: no password given
  bool askPassword = false;             // -p / --password without a value
  std::string database;
  std::vector<std::string> execute;     // -e, in order; empty: read stdin
  bool compress = false;
  std::string protocol;                 // as given (tcp, socket, pipe, memory, ssl, http)
  std::string socket;                   // --socket: the local socket's path
  std::string sslCa, sslCert, sslKey, sslCipher;
  std::string httpUrl, httpUser, httpPassword;
  std::string httpProxyHost, httpProxyUser, httpProxyPassword;
  int httpProxyPort = 0;
  std::string defaultAuth;              // --default-auth: plugin announced at login
  std::string serverPublicKeyPath;      // --server-public-key-path
  bool getServerPublicKey = true;       // --[no-]get-server-public-key
  std::vector<ParamArg> params;
  int connectTimeout = 15;
  bool help = false;
};

// Thrown for a command line that cannot be used; the message says why.
class UsageError : public std::exception {
 public:
  explicit UsageError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Parses argv[1..]. `env` reads an environment variable (MYSQL_PWD gives
// the password when none is on the command line). Raises UsageError.
Options ParseArgs(const std::vector<std::string>& args, std::optional<std::string> (*env)(const char*));

// A --param value: NAME[:TYPE]=VALUE with TYPE string (default), int,
// bigint, float, date, datetime, bool or null. Raises UsageError.
ParamArg ParseParam(const std::string& text);

// Splits a text into statements at ";" outside quotes, back quotes and
// comments; empty statements are dropped.
std::vector<std::string> SplitStatements(const std::string& text);

std::string HelpText();

}  // namespace myquery
