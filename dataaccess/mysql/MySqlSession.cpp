#include "mysql/MySqlSession.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/Format.h"
#include "mysql/CRVioTcp.h"
#include "mysql/MyCall.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlStmt.h"
#include "transports/MySqlTransports.h"

namespace da::mysql {
namespace {

// The capabilities every login asks for: long password, long flag, local
// files, protocol 4.1, transactions, secure connection, multiple statements
// and results.
constexpr uint32_t kFixedClientFlags = 0x3A285;
// Capabilities kept only where the server offers them.
constexpr uint32_t kNegotiatedFlags = CLIENT_COMPRESS | CLIENT_PROTOCOL_41 | CLIENT_SSL;
constexpr uint32_t kMaxPacketSize = 1073741824;
constexpr uint8_t kCharsetLatin1 = 8;
constexpr uint8_t kCharsetUtf8 = 33;
constexpr int32_t kDefaultPort = 3306;
constexpr int32_t kConnectErrorNumber = 10061;
constexpr uint8_t kGreetingProtocol = 10;
constexpr uint32_t kSkipChunk = 65536;

[[noreturn]] void Malformed(std::string_view detail = {}) { throw EMySqlException(CR_MALFORMED_PACKET, detail); }

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string FieldText(const TMySqlBinds& row, size_t index) {
  const TMySqlBind& b = row[index];
  if (b.IsNull || b.Length == 0) return {};
  return std::string(reinterpret_cast<const char*>(row.Buffer() + b.Offset), static_cast<size_t>(b.Length));
}

const uint8_t* FieldBytes(const TMySqlBinds& row, size_t index, size_t minimum) {
  const TMySqlBind& b = row[index];
  if (b.IsNull || static_cast<size_t>(b.Length) < minimum) Malformed();
  return row.Buffer() + b.Offset;
}

// Numeric columns get NUM_FLAG: the number types, TIMESTAMP only in its
// numeric-looking widths 14 and 8, and YEAR.
uint32_t NumFlagFor(uint8_t type, uint32_t length) {
  if ((type <= MYSQL_TYPE_INT24 && type != MYSQL_TYPE_TIMESTAMP) ||
      (type == MYSQL_TYPE_TIMESTAMP && (length == 14 || length == 8)) || type == MYSQL_TYPE_YEAR)
    return NUM_FLAG;
  return 0;
}

std::string WithoutBlanks(std::string_view password) {
  std::string out;
  for (char c : password)
    if (c != ' ' && c != '\t') out += c;
  return out;
}

}  // namespace

TTransportFactories& TransportFactories() {
  static TTransportFactories factories = transports::BuiltInTransports();
  return factories;
}

// ---------------------------------------------------------------------------
// Password hashing

TSHA1Managed::TDigest TSHA1Managed::ComputeHash(const uint8_t* data, size_t length) {
  TDigest digest{};
  unsigned int size = 0;
  if (EVP_Digest(data, length, digest.data(), &size, EVP_sha1(), nullptr) != 1 || size != digest.size())
    throw Exception("SHA-1 is not available");
  return digest;
}

TSHA1Managed::TDigest Scramble41(std::string_view password, const uint8_t* scramble20) {
  TSHA1Managed::TDigest s1 = TSHA1Managed::ComputeHash(password);
  TSHA1Managed::TDigest s2 = TSHA1Managed::ComputeHash(s1.data(), s1.size());
  uint8_t joined[40];
  std::memcpy(joined, scramble20, 20);
  std::memcpy(joined + 20, s2.data(), 20);
  TSHA1Managed::TDigest token = TSHA1Managed::ComputeHash(joined, sizeof joined);
  for (size_t i = 0; i < token.size(); ++i) token[i] ^= s1[i];
  return token;
}

namespace {

struct THash323 {
  uint32_t a, b;
};

THash323 Hash323(const uint8_t* bytes, size_t length) {
  uint32_t nr = 1345345333u, add = 7, nr2 = 0x12345671u;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = bytes[i];
    if (c == ' ' || c == '\t') continue;
    nr ^= (((nr & 63) + add) * c) + (nr << 8);
    nr2 += (nr2 << 8) ^ nr;
    add += c;
  }
  return {nr & 0x7FFFFFFFu, nr2 & 0x7FFFFFFFu};
}

}  // namespace

std::array<uint8_t, 8> Scramble323(std::string_view password, const uint8_t* scramble8) {
  THash323 p = Hash323(reinterpret_cast<const uint8_t*>(password.data()), password.size());
  THash323 m = Hash323(scramble8, 8);
  const uint64_t max = 0x3FFFFFFF;
  const double maxValue = 1073741823.0;
  uint64_t seed1 = (p.a ^ m.a) % max;
  uint64_t seed2 = (p.b ^ m.b) % max;
  auto draw = [&] {
    seed1 = (seed1 * 3 + seed2) % max;
    seed2 = (seed1 + seed2 + 33) % max;
    return static_cast<double>(seed1) / maxValue;
  };
  std::array<uint8_t, 8> out{};
  for (uint8_t& b : out) b = static_cast<uint8_t>(std::floor(draw() * 31) + 64);
  uint8_t extra = static_cast<uint8_t>(std::floor(draw() * 31));
  for (uint8_t& b : out) b ^= extra;
  return out;
}

// ---------------------------------------------------------------------------
// Life cycle

TMySqlSession::TMySqlSession() : net_(std::make_unique<TMySqlNet>()) {}

TMySqlSession::~TMySqlSession() {
  if (currentResult_) currentResult_->DetachSession();
  for (TMySqlStmt* stmt : statements_) stmt->DetachSession();
}

void TMySqlSession::SetSsl(std::string key, std::string cert, std::string ca, std::string caPath, std::string cipher) {
  sslKey_ = std::move(key);
  sslCert_ = std::move(cert);
  caCert_ = std::move(ca);
  caPath_ = std::move(caPath);
  cipherList_ = std::move(cipher);
  protocol_ = mpSSL;
}

bool TMySqlSession::IsProtocol41() const {
  return (serverCapabilities_ & CLIENT_PROTOCOL_41) && (clientFlags_ & CLIENT_PROTOCOL_41);
}

void TMySqlSession::RegisterStatement(TMySqlStmt* stmt) { statements_.push_back(stmt); }

void TMySqlSession::UnregisterStatement(TMySqlStmt* stmt) {
  statements_.erase(std::remove(statements_.begin(), statements_.end(), stmt), statements_.end());
}

TMySqlFieldInfos TMySqlSession::TakePendingColumns() {
  TMySqlFieldInfos columns = std::move(pendingColumns_);
  pendingColumns_.clear();
  return columns;
}

// ---------------------------------------------------------------------------
// Connecting

void TMySqlSession::ConnectSession(const std::string& host, const std::string& user, const std::string& password,
                                   const std::string& database, int32_t port, const std::string& pipeName,
                                   uint32_t clientFlags) {
  std::string targetHost = host.empty() ? host_ : host;
  std::string targetDatabase = database.empty() ? database_ : database;
  int32_t targetPort = port != 0 ? port : port_;
  if (targetPort == 0) targetPort = kDefaultPort;
  if (targetHost.empty()) targetHost = "localhost";
  serverStatus_ = SERVER_STATUS_AUTOCOMMIT;

  host_ = targetHost;
  port_ = targetPort;
  OpenTransport(pipeName);
  ReadGreeting();

  net_->ResetWrite();
  clientFlags_ = ComputeClientFlags(clientFlags);
  // Asked for SSL, the login never goes out in clear: not when the server
  // offers no SSL, nor over a transport that cannot start it (the tunnel).
  if (protocol_ == mpSSL && !(clientFlags_ & CLIENT_SSL))
    throw EMySqlException(CR_SSL_CONNECTION_ERROR,
                          sslCapable_ ? "The server does not offer SSL" : "SSL cannot be started over this transport");
  WriteLoginPacket(user, password, targetDatabase);
  ReadAuthAnswer(password);
  net_->SetCompressed((clientFlags_ & CLIENT_COMPRESS) != 0);
}

void TMySqlSession::OpenTransport(const std::string& pipeName) {
  TTransportFactories& factories = TransportFactories();
  TTransportSettings settings{host_, port_, pipeName, sslKey_, sslCert_, caCert_, caPath_, cipherList_, httpOptions_};
  auto fromFactory = [&](const auto& factory, const char* what) {
    if (!factory) throw EMySqlException(CR_WRONG_PROTOCOL, Format("The %s transport is not available", {what}));
    return factory(settings);
  };

  std::unique_ptr<TCRVio> vio;
  bool handler = false;
  sslCapable_ = false;
  if (ioHandler_) {
    vio = std::make_unique<TCRVioHandler>(host_, port_, ioHandler_, sslKey_, sslCert_, caCert_);
    hostInfo_ = host_ + " via " + ioHandler_->ClassName();
    handler = true;
    sslCapable_ = true;
  } else if (httpOptions_) {
    vio = fromFactory(factories.http, "HTTP");
    hostInfo_ = host_ + " via HTTP";
  } else if (protocol_ == mpDefault || protocol_ == mpTCP) {
    vio = std::make_unique<TCRVioTcp>(host_, port_);
    hostInfo_ = host_ + " via TCP/IP";
  } else if (protocol_ == mpPipe || protocol_ == mpSocket) {
    // Both name the local link; here it is one Unix-domain socket.
    vio = fromFactory(factories.pipe, "named-pipe");
    hostInfo_ = host_ + (protocol_ == mpPipe ? " via pipes" : " via UNIX socket");
  } else if (protocol_ == mpSSL) {
    vio = fromFactory(factories.ssl, "SSL");
    hostInfo_ = host_ + " via SSL";
    sslCapable_ = true;
  } else if (!net_->Transport()) {
    throw EMySqlException(CR_WRONG_PROTOCOL);
  }
  if (vio) net_->SetTransport(std::move(vio));

  TCRVio& transport = *net_->Transport();
  try {
    transport.SetIoTimeout(connectTimeout_);
    transport.Connect();
  } catch (const std::exception&) {
    if (handler) throw;
    throw EMySqlException(CR_CONN_HOST_ERROR, transport.ErrorText(), {host_, kConnectErrorNumber});
  }
}

void TMySqlSession::ReadGreeting() {
  TMySqlNet& net = *net_;
  net.ReceivePacket();
  uint8_t version = net.ReadByte();
  if (version != kGreetingProtocol)
    throw EMySqlException(CR_VERSION_ERROR, "", {int{version}, int{kGreetingProtocol}});
  serverVersion_ = net.ReadZString();
  threadId_ = net.ReadLE32();
  net.ReadBytes(scramble_.data(), 8);
  scrambleLength_ = 8;
  const size_t p = net.Position();  // the filler
  net.ReadByte();
  const size_t size = net.Size();
  serverCapabilities_ = 0;
  serverCapabilitiesUpper_ = 0;
  serverAuthPlugin_.clear();
  size_t authDataLength = 0;
  if (size > p + 2) serverCapabilities_ = net.ReadLE16();
  if (size >= p + 18) {
    serverLanguage_ = net.ReadByte();
    serverStatus_ = net.ReadLE16();
    serverCapabilitiesUpper_ = net.ReadLE16();
    authDataLength = net.ReadByte();
    net.SetPosition(p + 19);
  }
  if (size >= p + 31) {
    net.ReadBytes(scramble_.data() + 8, 12);
    scrambleLength_ = 20;
  }
  // The plugin name follows the second part of the challenge (at least 13
  // bytes with its zero byte).
  if (scrambleLength_ == 20 && (serverCapabilitiesUpper_ & (CLIENT_PLUGIN_AUTH >> 16))) {
    const size_t nameAt = p + 19 + std::max<size_t>(13, authDataLength > 8 ? authDataLength - 8 : 0);
    if (nameAt < size) {
      net.SetPosition(nameAt);
      serverAuthPlugin_ = net.ReadZString();
    }
  }
}

uint32_t TMySqlSession::ComputeClientFlags(uint32_t callerFlags) const {
  uint32_t flags = callerFlags;
  if (flags & CLIENT_MULTI_STATEMENTS) flags |= CLIENT_MULTI_RESULTS;
  flags |= clientFlags_ | kFixedClientFlags;
  if (protocol_ == mpSSL) flags |= CLIENT_SSL;
  flags |= CLIENT_CONNECT_WITH_DB;
  flags = (flags & ~kNegotiatedFlags) | (flags & serverCapabilities_ & kNegotiatedFlags);
  // Asking for SSL on a transport that cannot start it would leave the
  // server waiting for a TLS handshake that never comes.
  if (!sslCapable_) flags &= ~CLIENT_SSL;
  // Plugin authentication only when it is needed or asked for: a server
  // that names the native plugin gets the login it always got.
  flags &= ~CLIENT_PLUGIN_AUTH;
  const uint32_t serverFlags = uint32_t{serverCapabilities_} | uint32_t{serverCapabilitiesUpper_} << 16;
  if (scrambleLength_ == 20 && WantsPluginAuth(serverFlags, serverAuthPlugin_, authOptions_))
    flags |= CLIENT_PLUGIN_AUTH;
  return flags;
}

void TMySqlSession::WriteLoginHead(bool protocol41) {
  TMySqlNet& net = *net_;
  if (protocol41) {
    net.WriteLE32(clientFlags_);
    net.WriteLE32(kMaxPacketSize);
    net.WriteByte(charsetName_ == "utf8" ? kCharsetUtf8 : kCharsetLatin1);
    net.WriteFill(0, 23);
  } else {
    net.WriteLE16(static_cast<uint16_t>(clientFlags_));
    net.WriteLE24(kMaxPacketSize & 0xFFFF);
  }
}

void TMySqlSession::WriteLoginPacket(const std::string& user, const std::string& password,
                                     const std::string& database) {
  TMySqlNet& net = *net_;
  auth_.reset();
  const bool protocol41 = (clientFlags_ & CLIENT_PROTOCOL_41) != 0;
  WriteLoginHead(protocol41);
  if (clientFlags_ & CLIENT_SSL) {
    // The SSL request is the head of the login packet on its own; the
    // login packet then goes whole through the encrypted stream.
    net.FlushPacket();
    StartSsl();
    WriteLoginHead(protocol41);
  }
  net.WriteZString(user);
  if (clientFlags_ & CLIENT_PLUGIN_AUTH) {
    auth_ = std::make_unique<TMySqlAuth>(net, password, scramble_.data(), serverAuthPlugin_, authOptions_,
                                         IsSecureLink());
    const std::vector<uint8_t>& answer = auth_->FirstAnswer();
    net.WriteByte(static_cast<uint8_t>(answer.size()));
    net.WriteBytes(answer.data(), answer.size());
  } else {
    WriteAuthData(password);
  }
  if (serverCapabilities_ & CLIENT_CONNECT_WITH_DB) {
    net.WriteZString(database);
    database_ = database;
  }
  if (auth_) net.WriteZString(auth_->PluginName());
  net.FlushPacket();
}

bool TMySqlSession::IsSecureLink() const {
  const TCRVio* transport = net_->Transport();
  return (clientFlags_ & CLIENT_SSL) != 0 || (transport && transport->IsSecure());
}

void TMySqlSession::StartSsl() {
  TCRVio* transport = net_->Transport();
  if (ioHandler_) {
    auto* handlerVio = static_cast<TCRVioHandler*>(transport);
    ioHandler_->SetIsSecure(handlerVio->Handle(), true);
    return;
  }
  TTransportFactories& factories = TransportFactories();
  if (!factories.startSsl) throw EMySqlException(CR_SSL_CONNECTION_ERROR);
  factories.startSsl(*transport);
}

void TMySqlSession::WriteAuthData(const std::string& password) {
  TMySqlNet& net = *net_;
  if (!(serverCapabilities_ & CLIENT_SECURE_CONNECTION)) {
    if (!password.empty()) {
      std::array<uint8_t, 8> s = Scramble323(password, scramble_.data());
      net.WriteBytes(s.data(), s.size());
    }
    net.WriteByte(0);
    return;
  }
  if (password.empty()) {
    net.WriteByte(0);
  } else if (scrambleLength_ == 20) {
    TSHA1Managed::TDigest token = Scramble41(password, scramble_.data());
    net.WriteByte(20);
    net.WriteBytes(token.data(), token.size());
  } else {
    net.WriteBytes("xxxxxxxx");
    net.WriteByte(0);
  }
}

void TMySqlSession::ReadAuthAnswer(const std::string& password) {
  if (auth_) {
    // Plugin authentication: the plugins answer; the exchange ends with
    // the login, whatever its outcome.
    std::unique_ptr<TMySqlAuth> auth = std::move(auth_);
    auth->Run();
    return;
  }
  TMySqlNet& net = *net_;
  net.ReceivePacket();
  if (serverCapabilities_ & CLIENT_SECURE_CONNECTION) {
    const uint8_t* answer = net.Memory();
    if (net.Size() == 1 && answer[0] == 0xFE) {
      // The account has an old password: answer with the 3.23 scramble.
      net.ResetWrite();
      if (!password.empty()) {
        std::array<uint8_t, 8> s = Scramble323(password, scramble_.data());
        net.WriteBytes(s.data(), s.size());
      }
      net.WriteByte(0);
      net.FlushPacket();
      net.ReceivePacket();
    } else if (net.Size() == 24 && answer[0] != 0) {
      // The two-step exchange of early 4.1 servers.
      uint8_t copy[24];
      std::memcpy(copy, answer, sizeof copy);
      net.ResetWrite();
      if (copy[0] == '*') {
        std::memcpy(scramble_.data(), copy + 4, 20);
        if (!password.empty()) {
          std::array<uint8_t, 8> s = Scramble323(password, scramble_.data());
          net.WriteBytes(s.data(), s.size());
        }
        net.WriteByte(0);
      } else {
        TSHA1Managed::TDigest h1 = TSHA1Managed::ComputeHash(WithoutBlanks(password));
        uint8_t joined[24];
        std::memcpy(joined, copy, 4);
        std::memcpy(joined + 4, h1.data(), 20);
        TSHA1Managed::TDigest h2 = TSHA1Managed::ComputeHash(joined, sizeof joined);
        uint8_t reply[20];
        for (size_t i = 0; i < 20; ++i) {
          scramble_[i] = copy[4 + i] ^ h2[i];
          reply[i] = scramble_[i] ^ h1[i];
        }
        net.WriteBytes(reply, sizeof reply);
      }
      net.FlushPacket();
      net.ReceivePacket();
    }
  }
  // Only an OK packet ends a login; anything else (another switch request,
  // a truncated or unknown answer) must not pass for success.
  if (net.Size() == 0 || net.Memory()[0] != 0)
    throw EMySqlException(CR_SERVER_HANDSHAKE_ERR,
                          Format("Unexpected answer to the login: %d bytes, first byte $%X",
                                 {static_cast<int>(net.Size()), net.Size() ? int{net.Memory()[0]} : 0}));
}

void TMySqlSession::CloseSession() {
  if (closing_) return;
  closing_ = true;
  state_ = kReady;
  try {
    SimpleCommand(COM_QUIT, nullptr, 0, true);
  } catch (...) {
    net_->CloseNet();
    throw;
  }
  net_->CloseNet();
}

// ---------------------------------------------------------------------------
// Commands

void TMySqlSession::BeginCommand(uint8_t code) {
  if (state_ != kReady) throw EMySqlException(CR_COMMANDS_OUT_OF_SYNC);
  if (code == COM_QUIT)
    closesDue_.clear();  // the server drops them with the connection
  else if (!closesDue_.empty())
    SendDueCloses();
  info_.clear();
  affectedRows_ = 0;
  net_->ResetSequence();
  net_->WriteByte(code);
}

void TMySqlSession::SimpleCommand(uint8_t code, const uint8_t* body, size_t length, bool noAnswer) {
  TCRVio* transport = net_->Transport();
  if (!transport) {
    // Nothing to say goodbye to; but a command that expects an answer on a
    // session that never connected (or gave up its connection) must not
    // pass for a success.
    if (noAnswer) return;
    throw EMySqlException(CR_SERVER_GONE_ERROR);
  }
  transport->SetIoTimeout(readWriteTimeout_);
  BeginCommand(code);
  if (body && length > 0) net_->WriteSplit(body, length);
  InStep([&] {
    net_->FlushPacket();
    if (!noAnswer) net_->ReceivePacket();
  });
}

void TMySqlSession::CloseStatementOnServer(uint32_t statementId) {
  if (!net_->Transport()) return;
  closesDue_.push_back(statementId);
  if (state_ == kReady) SendDueCloses();
}

void TMySqlSession::SendDueCloses() {
  std::vector<uint32_t> ids;
  ids.swap(closesDue_);
  for (uint32_t id : ids) {
    net_->ResetSequence();
    net_->WriteByte(COM_STMT_CLOSE);
    net_->WriteLE32(id);
    InStep([this] { net_->FlushPacket(); });
  }
}

bool TMySqlSession::LosesStep(int32_t code) {
  switch (code) {
    case CR_SERVER_LOST:
    case CR_MALFORMED_PACKET:
    case CR_NULL_POINTER:
    case CR_NET_PACKET_TOO_LARGE:
    case ER_NET_PACKETS_OUT_OF_ORDER:
    case ER_NET_UNCOMPRESS_ERROR: return true;
    default: return false;
  }
}

void TMySqlSession::Abandon() {
  try {
    net_->CloseNet();
  } catch (...) {
    // The failure that brought us here is the one to report.
  }
  state_ = kReady;
  pendingColumns_.clear();
  fieldCount_ = 0;
  serverStatus_ &= ~SERVER_MORE_RESULTS_EXISTS;
  storedProc_ = false;
}

void TMySqlSession::SelectDb(const std::string& name) {
  SimpleCommand(COM_INIT_DB, reinterpret_cast<const uint8_t*>(name.data()), name.size(), false);
  database_ = name;
}

void TMySqlSession::Ping() { SimpleCommand(COM_PING, nullptr, 0, false); }

void TMySqlSession::Kill(uint32_t threadId) {
  uint8_t body[4] = {static_cast<uint8_t>(threadId), static_cast<uint8_t>(threadId >> 8),
                     static_cast<uint8_t>(threadId >> 16), static_cast<uint8_t>(threadId >> 24)};
  SimpleCommand(COM_PROCESS_KILL, body, sizeof body, false);
}

void TMySqlSession::ReadQueryResult() {
  InStep([this] { ReadResponse(); });
}

void TMySqlSession::ReadResponse() {
  TMySqlNet& net = *net_;
  serverStatus_ = SERVER_STATUS_AUTOCOMMIT;
  net.ReceivePacket();
  for (;;) {
    net.SetPosition(0);
    int64_t count = net.ReadLengthCoded();
    if (count == TMySqlNet::kNullLength) {
      SendLocalFile(net.ReadZString());
      continue;  // the file sender has read the server's next answer
    }
    if (count > INT32_MAX) Malformed();
    fieldCount_ = static_cast<int32_t>(count);
    if (count == 0) {
      ReadOkPacket();
      return;
    }
    if (!(serverStatus_ & SERVER_STATUS_AUTOCOMMIT)) serverStatus_ |= SERVER_STATUS_IN_TRANS;
    if (net.Remaining() > 0) extra_ = net.ReadLengthCoded();
    pendingColumns_ = ReadColumns(static_cast<size_t>(count));
    state_ = kColumnsRead;
    warningCount_ = 0;
    return;
  }
}

void TMySqlSession::ReadOkPacket() {
  TMySqlNet& net = *net_;
  affectedRows_ = net.ReadLengthCodedUnsigned();
  insertId_ = net.ReadLengthCodedUnsigned();
  if ((IsProtocol41() || (serverCapabilities_ & CLIENT_TRANSACTIONS)) && net.Remaining() >= 2)
    serverStatus_ = net.ReadLE16();
  if (IsProtocol41() && net.Remaining() >= 2) warningCount_ = net.ReadLE16();
  // Servers send the info text with a length prefix; read as a plain text
  // its length byte would lead the text ("&Records: 3 ...").
  info_.clear();
  if (net.Remaining() == 0) return;
  size_t start = net.Position();
  int64_t length = -1;
  try {
    length = net.ReadLengthCoded();
  } catch (const EMySqlException&) {
  }
  if (length >= 0 && static_cast<size_t>(length) <= net.Remaining()) {
    info_.assign(reinterpret_cast<const char*>(net.Memory() + net.Position()), static_cast<size_t>(length));
    net.SetPosition(net.Position() + static_cast<size_t>(length));
    return;
  }
  net.SetPosition(start);
  info_ = net.ReadZString();
}

void TMySqlSession::SendLocalFile(const std::string& fileName) {
  TMySqlNet& net = *net_;
  net.ResetWrite();
  if (!allowLocalInfile_) {
    // The server may name any file; without the connection's consent none
    // is read. The empty packet ends the request cleanly.
    net.SendEmptyPacket();
    net.ReceivePacket();
    throw EMySqlException(
        CR_LOAD_DATA_LOCAL_INFILE_REJECTED,
        Format("LOAD DATA LOCAL INFILE file request refused: local files are not allowed on this connection "
               "(file '%s')",
               {fileName}));
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "rb"), std::fclose);
  int openError = file ? 0 : errno;
  if (file) {
    uint8_t piece[8192];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, file.get())) > 0) {
      net.WriteBytes(piece, n);
      net.FlushPacket();
    }
    if (std::ferror(file.get())) openError = errno ? errno : EIO;
    file.reset();
  }
  net.SendEmptyPacket();
  net.ReceivePacket();
  if (openError != 0) throw EFOpenError(fileName, std::strerror(openError));
}

TRows TMySqlSession::ReadStoredRows(size_t maxRows) {
  TRows rows;
  for (;;) {
    std::vector<uint8_t> bytes;
    net_->ReceivePacketBytes(bytes);
    if (bytes.size() < 8 && bytes[0] == 0xFE) {
      ReadEndPacket(bytes.data(), bytes.size());
      return rows;
    }
    // A server sending more than it announced is not followed: each row
    // kept costs memory, and an endless stream of them would cost it all.
    if (rows.size() >= maxRows) Malformed(Format("more than %d definitions", {static_cast<int64_t>(maxRows)}));
    rows.push_back(std::move(bytes));
  }
}

void TMySqlSession::ReadEndPacket(const uint8_t* packet, size_t size) {
  if (size <= 1) return;
  if (size < 5) Malformed();
  warningCount_ = Le16(packet + 1);
  serverStatus_ = Le16(packet + 3);
}

TMySqlFieldInfos TMySqlSession::ReadColumns(size_t count) {
  TRows rows = ReadStoredRows(count);
  if (rows.size() != count)
    Malformed(Format("%d column definitions for %d columns", {static_cast<int>(rows.size()), static_cast<int>(count)}));
  const bool protocol41 = IsProtocol41();
  TMySqlResultSet definitions(std::move(rows), protocol41 ? 7 : 5);
  TMySqlFieldInfos columns;
  columns.reserve(count);
  while (TMySqlBinds* row = definitions.FetchNextRow()) {
    TMySqlFieldInfo info;
    if (protocol41) {
      info.Database = FieldText(*row, 1);
      info.Table = FieldText(*row, 2);
      info.OrgTable = FieldText(*row, 3);
      info.Name = FieldText(*row, 4);
      info.OrgName = FieldText(*row, 5);
      const uint8_t* fixed = FieldBytes(*row, 6, 11);
      info.CharsetNr = Le16(fixed);
      info.Length = Le32(fixed + 2);
      info.Type = fixed[6];
      info.Flags = Le16(fixed + 7);
      info.Decimals = fixed[9];
    } else {
      info.Table = FieldText(*row, 0);
      info.OrgTable = info.Table;
      info.Name = FieldText(*row, 1);
      const uint8_t* length = FieldBytes(*row, 2, 3);
      info.Length = uint32_t{length[0]} | uint32_t{length[1]} << 8 | uint32_t{length[2]} << 16;
      info.Type = FieldBytes(*row, 3, 1)[0];
      if (serverCapabilities_ & CLIENT_LONG_FLAG) {
        const uint8_t* f = FieldBytes(*row, 4, 3);
        info.Flags = Le16(f);
        info.Decimals = f[2];
      } else {
        const uint8_t* f = FieldBytes(*row, 4, 2);
        info.Flags = f[0];
        info.Decimals = f[1];
      }
    }
    info.Flags |= NumFlagFor(info.Type, info.Length);
    columns.push_back(std::move(info));
  }
  return columns;
}

void TMySqlSession::SkipRows() {
  TMySqlNet& net = *net_;
  bool continuation = false;
  for (;;) {
    // A continuation of a 16 MiB packet is row data whatever its first byte.
    uint32_t length = net.SkipPacket(kSkipChunk, !continuation, skipPiece_);
    bool wasContinuation = continuation;
    continuation = length == TMySqlNet::kMaxPacket;
    if (!wasContinuation && length > 0 && length <= 8 && skipPiece_[0] == 0xFE) {
      ReadEndPacket(skipPiece_.data(), length);
      return;
    }
  }
}

void TMySqlSession::DrainResult() {
  if (state_ == kReady) return;
  SkipRowsToReady();
  if (storedProc_) {
    storedProc_ = false;
    DrainFurtherResults();
  }
}

void TMySqlSession::SkipRowsToReady() {
  try {
    InStep([this] { SkipRows(); });
  } catch (...) {
    state_ = kReady;  // a broken stream must not leave the session waiting for rows
    throw;
  }
  state_ = kReady;
}

void TMySqlSession::DrainFurtherResults() {
  // A procedure call ends with an OK packet after its results; every result
  // before it carries SERVER_MORE_RESULTS_EXISTS. Read up to that OK packet
  // so that the next command finds the session in step.
  while (serverStatus_ & SERVER_MORE_RESULTS_EXISTS) {
    ReadQueryResult();
    if (state_ != kReady) {
      pendingColumns_.clear();
      SkipRowsToReady();
    }
  }
}

std::unique_ptr<TMySqlResultSet> TMySqlSession::OpenResult() {
  if (pendingColumns_.empty()) return nullptr;
  if (state_ != kColumnsRead)
    throw EMySqlException(CR_COMMANDS_OUT_OF_SYNC, "mysql.status = " + std::to_string(state_));
  auto result = std::make_unique<TMySqlResultSet>(this, TakePendingColumns());
  currentResult_ = result.get();
  state_ = kRowsPending;
  return result;
}

int32_t TMySqlSession::NextResult() {
  if (state_ != kReady) throw EMySqlException(CR_COMMANDS_OUT_OF_SYNC, "mysql.status = " + std::to_string(state_));
  affectedRows_ = UINT64_MAX;
  if (serverStatus_ & SERVER_MORE_RESULTS_EXISTS) {
    ReadQueryResult();
    return 0;
  }
  return -1;
}

}  // namespace da::mysql
