#pragma once
// The wire client's one exception class and the client error table.
//
// Codes 2000-2047 are client errors whose text comes from the table; any
// other code is a server error number (or a protocol code) whose text comes
// with the error as its detail.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/Exception.h"
#include "common/Format.h"

namespace da::mysql {

// Client error codes used by the wire client.
inline constexpr int32_t CR_MIN_ERROR = 2000;
inline constexpr int32_t CR_UNKNOWN_ERROR = 2000;
inline constexpr int32_t CR_SOCKET_CREATE_ERROR = 2001;
inline constexpr int32_t CR_CONNECTION_ERROR = 2002;
inline constexpr int32_t CR_CONN_HOST_ERROR = 2003;
inline constexpr int32_t CR_IPSOCK_ERROR = 2004;
inline constexpr int32_t CR_UNKNOWN_HOST = 2005;
inline constexpr int32_t CR_SERVER_GONE_ERROR = 2006;
inline constexpr int32_t CR_VERSION_ERROR = 2007;
inline constexpr int32_t CR_OUT_OF_MEMORY = 2008;
inline constexpr int32_t CR_WRONG_HOST_INFO = 2009;
inline constexpr int32_t CR_LOCALHOST_CONNECTION = 2010;
inline constexpr int32_t CR_TCP_CONNECTION = 2011;
inline constexpr int32_t CR_SERVER_HANDSHAKE_ERR = 2012;
inline constexpr int32_t CR_SERVER_LOST = 2013;
inline constexpr int32_t CR_COMMANDS_OUT_OF_SYNC = 2014;
inline constexpr int32_t CR_NAMEDPIPE_CONNECTION = 2015;
inline constexpr int32_t CR_NAMEDPIPEWAIT_ERROR = 2016;
inline constexpr int32_t CR_NAMEDPIPEOPEN_ERROR = 2017;
inline constexpr int32_t CR_NAMEDPIPESETSTATE_ERROR = 2018;
inline constexpr int32_t CR_CANT_READ_CHARSET = 2019;
inline constexpr int32_t CR_NET_PACKET_TOO_LARGE = 2020;
inline constexpr int32_t CR_EMBEDDED_CONNECTION = 2021;
inline constexpr int32_t CR_SSL_CONNECTION_ERROR = 2026;
inline constexpr int32_t CR_MALFORMED_PACKET = 2027;
inline constexpr int32_t CR_NULL_POINTER = 2028;
inline constexpr int32_t CR_NO_PREPARE_STMT = 2029;
inline constexpr int32_t CR_PARAMS_NOT_BOUND = 2030;
inline constexpr int32_t CR_DATA_TRUNCATED = 2031;
inline constexpr int32_t CR_NO_PARAMETERS_EXISTS = 2032;
inline constexpr int32_t CR_INVALID_PARAMETER_NO = 2033;
inline constexpr int32_t CR_INVALID_BUFFER_USE = 2034;
inline constexpr int32_t CR_UNSUPPORTED_PARAM_TYPE = 2035;
inline constexpr int32_t CR_WRONG_PROTOCOL = 2046;
inline constexpr int32_t CR_INVALID_CONN_HANDLE = 2047;
inline constexpr int32_t CR_MAX_ERROR = 2047;

// A LOAD DATA LOCAL INFILE request refused because the connection does not
// allow local files (outside the table: its text travels as the detail).
inline constexpr int32_t CR_LOAD_DATA_LOCAL_INFILE_REJECTED = 2068;

// Protocol codes outside the table.
inline constexpr int32_t ER_NET_PACKETS_OUT_OF_ORDER = 1156;
inline constexpr int32_t ER_NET_UNCOMPRESS_ERROR = 1157;

// The table text of a client error code; empty outside 2000-2047.
std::string_view ClientErrorText(int32_t code);

class EMySqlException : public Exception {
 public:
  // The table text, unformatted (its placeholders stay as written).
  explicit EMySqlException(int32_t code);
  // As the next form with no arguments.
  EMySqlException(int32_t code, std::string_view detail);
  // The table text formatted with the arguments; then, when detail is not
  // empty, CR LF and the detail. A server error (code outside the table)
  // thus reads CR LF followed by the server's text. Placeholders without an
  // argument stay as written: formatting never fails.
  EMySqlException(int32_t code, std::string_view detail, std::initializer_list<FormatArg> args);

  int32_t ErrorCode() const { return errorCode_; }

 private:
  int32_t errorCode_;
};

// A file the client was asked to read cannot be opened.
class EFOpenError : public Exception {
 public:
  EFOpenError(const std::string& fileName, const std::string& reason);
};

// The code and text of the last failed call on a handle (a session or a
// statement), as the call table stores them; code 0 and an empty text after
// a call that succeeded.
class TStoredError {
 public:
  int32_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorText() const { return errorText_; }
  void SetError(int32_t code, std::string text) {
    errorCode_ = code;
    errorText_ = std::move(text);
  }
  void ClearError() {
    errorCode_ = 0;
    errorText_.clear();
  }

 private:
  int32_t errorCode_ = 0;
  std::string errorText_;
};

}  // namespace da::mysql
