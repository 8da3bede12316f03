#pragma once
// The numbers of the MySQL client interface that the call table and its
// callers share: column type codes and flags, capability and status flags,
// option numbers, the protocol choice, and the column description handed to
// the driver.

#include <cstdint>
#include <string>

namespace da::mysql {

// Column type codes (the protocol's, also used for prepared-statement values).
inline constexpr uint8_t MYSQL_TYPE_DECIMAL = 0;
inline constexpr uint8_t MYSQL_TYPE_TINY = 1;
inline constexpr uint8_t MYSQL_TYPE_SHORT = 2;
inline constexpr uint8_t MYSQL_TYPE_LONG = 3;
inline constexpr uint8_t MYSQL_TYPE_FLOAT = 4;
inline constexpr uint8_t MYSQL_TYPE_DOUBLE = 5;
inline constexpr uint8_t MYSQL_TYPE_NULL = 6;
inline constexpr uint8_t MYSQL_TYPE_TIMESTAMP = 7;
inline constexpr uint8_t MYSQL_TYPE_LONGLONG = 8;
inline constexpr uint8_t MYSQL_TYPE_INT24 = 9;
inline constexpr uint8_t MYSQL_TYPE_DATE = 10;
inline constexpr uint8_t MYSQL_TYPE_TIME = 11;
inline constexpr uint8_t MYSQL_TYPE_DATETIME = 12;
inline constexpr uint8_t MYSQL_TYPE_YEAR = 13;
inline constexpr uint8_t MYSQL_TYPE_NEWDATE = 14;
inline constexpr uint8_t MYSQL_TYPE_VARCHAR = 15;
inline constexpr uint8_t MYSQL_TYPE_BIT = 16;
inline constexpr uint8_t MYSQL_TYPE_NEWDECIMAL = 246;
inline constexpr uint8_t MYSQL_TYPE_ENUM = 247;
inline constexpr uint8_t MYSQL_TYPE_SET = 248;
inline constexpr uint8_t MYSQL_TYPE_TINY_BLOB = 249;
inline constexpr uint8_t MYSQL_TYPE_MEDIUM_BLOB = 250;
inline constexpr uint8_t MYSQL_TYPE_LONG_BLOB = 251;
inline constexpr uint8_t MYSQL_TYPE_BLOB = 252;
inline constexpr uint8_t MYSQL_TYPE_VAR_STRING = 253;
inline constexpr uint8_t MYSQL_TYPE_STRING = 254;
inline constexpr uint8_t MYSQL_TYPE_GEOMETRY = 255;

// Column flags.
inline constexpr uint32_t NOT_NULL_FLAG = 1;
inline constexpr uint32_t PRI_KEY_FLAG = 2;
inline constexpr uint32_t UNIQUE_KEY_FLAG = 4;
inline constexpr uint32_t MULTIPLE_KEY_FLAG = 8;
inline constexpr uint32_t BLOB_FLAG = 16;
inline constexpr uint32_t UNSIGNED_FLAG = 32;
inline constexpr uint32_t ZEROFILL_FLAG = 64;
inline constexpr uint32_t BINARY_FLAG = 128;
inline constexpr uint32_t ENUM_FLAG = 256;
inline constexpr uint32_t AUTO_INCREMENT_FLAG = 512;
inline constexpr uint32_t TIMESTAMP_FLAG = 1024;
inline constexpr uint32_t SET_FLAG = 2048;
inline constexpr uint32_t NUM_FLAG = 0x8000;

// Capability flags.
inline constexpr uint32_t CLIENT_LONG_PASSWORD = 0x1;
inline constexpr uint32_t CLIENT_FOUND_ROWS = 0x2;
inline constexpr uint32_t CLIENT_LONG_FLAG = 0x4;
inline constexpr uint32_t CLIENT_CONNECT_WITH_DB = 0x8;
inline constexpr uint32_t CLIENT_COMPRESS = 0x20;
inline constexpr uint32_t CLIENT_LOCAL_FILES = 0x80;
inline constexpr uint32_t CLIENT_PROTOCOL_41 = 0x200;
inline constexpr uint32_t CLIENT_SSL = 0x800;
inline constexpr uint32_t CLIENT_TRANSACTIONS = 0x2000;
inline constexpr uint32_t CLIENT_SECURE_CONNECTION = 0x8000;
inline constexpr uint32_t CLIENT_MULTI_STATEMENTS = 0x10000;
inline constexpr uint32_t CLIENT_MULTI_RESULTS = 0x20000;
inline constexpr uint32_t CLIENT_PLUGIN_AUTH = 0x80000;

// Server status flags.
inline constexpr int32_t SERVER_STATUS_IN_TRANS = 1;
inline constexpr int32_t SERVER_STATUS_AUTOCOMMIT = 2;
inline constexpr int32_t SERVER_MORE_RESULTS_EXISTS = 8;

// Command codes.
inline constexpr uint8_t COM_QUIT = 1;
inline constexpr uint8_t COM_INIT_DB = 2;
inline constexpr uint8_t COM_QUERY = 3;
inline constexpr uint8_t COM_PROCESS_KILL = 12;
inline constexpr uint8_t COM_PING = 14;
inline constexpr uint8_t COM_STMT_PREPARE = 22;
inline constexpr uint8_t COM_STMT_EXECUTE = 23;
inline constexpr uint8_t COM_STMT_SEND_LONG_DATA = 24;
inline constexpr uint8_t COM_STMT_CLOSE = 25;

// Option numbers of mysql_options.
inline constexpr int MYSQL_OPT_CONNECT_TIMEOUT = 0;
inline constexpr int MYSQL_OPT_COMPRESS = 1;
inline constexpr int MYSQL_OPT_NAMED_PIPE = 2;
inline constexpr int MYSQL_SET_CHARSET_NAME = 7;
inline constexpr int MYSQL_OPT_LOCAL_INFILE = 8;
inline constexpr int MYSQL_OPT_PROTOCOL = 9;
inline constexpr int MYSQL_SHARED_MEMORY_BASE_NAME = 10;
inline constexpr int MYSQL_OPT_READ_TIMEOUT = 11;
inline constexpr int MYSQL_OPT_WRITE_TIMEOUT = 12;
// Text: the authentication plugin to announce at login; not empty forces
// plugin authentication.
inline constexpr int MYSQL_DEFAULT_AUTH = 23;
// Text: a PEM file with the server's RSA public key (caching_sha2_password
// over a link that is not secure).
inline constexpr int MYSQL_SERVER_PUBLIC_KEY = 28;
// Integer: 0 forbids asking the server for its public key (default 1).
inline constexpr int MYSQL_OPT_GET_SERVER_PUBLIC_KEY = 29;

// mysql_stmt_fetch / StmtFetch: no more rows.
inline constexpr int32_t MYSQL_NO_DATA = 100;

// How a session reaches its server (the connection's Protocol setting).
enum TMyProtocol : uint8_t { mpDefault, mpTCP, mpSocket, mpPipe, mpMemory, mpSSL, mpHttp };

// A column as the driver receives it from GetFieldDesc.
struct TMYSQL_FIELD {
  std::string name;
  std::string org_name;  // the name when the server gives no underlying name
  std::string table;
  std::string org_table;
  uint32_t flags = 0;
  uint8_t type = 0;
  uint32_t length = 0;  // at most 65535
  uint32_t charsetnr = 0;
  uint32_t decimals = 0;
};

}  // namespace da::mysql
