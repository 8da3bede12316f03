#pragma once
// Authentication plugins of the login: which plugin answers the server's
// challenge, what each plugin answers, and the exchange that follows the
// login packet (switch requests, more-data packets, the final OK).
//
// A session uses this only when it announces plugin authentication; a login
// without it keeps the session's own 4.1 and 3.23 answers.
//
// Failures raise EMySqlException: 2059 for a plugin this client does not
// have (or may not use on this link), 2061 when a plugin cannot finish its
// work (no secure way to send the password, an unusable public key), 2012
// for an exchange that is not understood or does not end, the server's own
// error when it refuses, 2013 when the connection drops.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace da::mysql {

class TMySqlNet;

inline constexpr std::string_view kNativePasswordPlugin = "mysql_native_password";
inline constexpr std::string_view kCachingSha2Plugin = "caching_sha2_password";
inline constexpr std::string_view kClearPasswordPlugin = "mysql_clear_password";
inline constexpr std::string_view kOldPasswordPlugin = "mysql_old_password";

// Client error codes of the plugins (outside the client error table: their
// text travels as the detail).
inline constexpr int32_t CR_AUTH_PLUGIN_CANNOT_LOAD = 2059;
inline constexpr int32_t CR_AUTH_PLUGIN_ERR = 2061;

// What the connection says about authentication.
struct TAuthOptions {
  // The plugin to announce in the login packet; not empty forces plugin
  // authentication even when the server's greeting names the native plugin.
  std::string plugin;
  // A PEM file with the server's RSA public key, for sending the password
  // of caching_sha2_password over a link that is not secure.
  std::string serverPublicKeyFile;
  // Without a key file, the key may be asked from the server. On by
  // default: over plain TCP the full path (the first login after the server
  // lost its cache) could not succeed otherwise. A key asked for over such a
  // link could come from someone in the middle; where that matters, give
  // the key file or switch this off.
  bool getServerPublicKey = true;
};

using TSha256Digest = std::array<uint8_t, 32>;

// The caching_sha2_password fast-path answer:
// SHA256(password) XOR SHA256(SHA256(SHA256(password)) + nonce).
TSha256Digest ScrambleCachingSha2(std::string_view password, const uint8_t* nonce, size_t nonceLength);

// The password followed by a zero byte, each byte XORed with the nonce
// repeated, encrypted with the PEM RSA public key (OAEP padding). Raises
// EMySqlException 2061 when the key cannot be read or is too short for the
// password.
std::vector<uint8_t> EncryptPasswordRsa(std::string_view password, const uint8_t* nonce, size_t nonceLength,
                                        std::string_view pemKey);

// True when the login announces plugin authentication: the server offers it
// and either the options name a plugin or the greeting names one other than
// the native plugin.
bool WantsPluginAuth(uint32_t serverCapabilities, const std::string& serverPlugin, const TAuthOptions& options);

// One login's plugin exchange. Borrows the net, which must outlive it; keeps
// a copy of the password, wiped when it goes.
class TMySqlAuth {
 public:
  // `nonce` is the greeting's 20-byte challenge. `secureLink`: what is sent
  // cannot be read on the way (TLS, a local socket); only then may the
  // password itself be sent.
  TMySqlAuth(TMySqlNet& net, std::string_view password, const uint8_t* nonce20, const std::string& serverPlugin,
             const TAuthOptions& options, bool secureLink);
  ~TMySqlAuth();
  TMySqlAuth(const TMySqlAuth&) = delete;
  TMySqlAuth& operator=(const TMySqlAuth&) = delete;

  // The plugin named in the login packet and its answer to the greeting's
  // challenge (at most 255 bytes). Chosen at construction: the options'
  // plugin, else the server's when this client has it, else the native
  // plugin. An unknown plugin in the options raises 2059.
  const std::string& PluginName() const { return plugin_; }
  const std::vector<uint8_t>& FirstAnswer() const { return firstAnswer_; }

  // Reads the server's answers to the login packet just sent and replies
  // to them until the server's OK packet.
  void Run();

  // More-data packets accepted in one login.
  static constexpr int kMaxMoreData = 4;

 private:
  // The answer of `plugin` to `nonce`; 2059 when the plugin is unknown or
  // not allowed on this link.
  std::vector<uint8_t> AnswerFor(const std::string& plugin, const std::vector<uint8_t>& nonce) const;
  void SwitchPlugin();
  void OldPasswordRequest();
  void MoreData();
  void FullAuthentication();
  void SendPasswordEncrypted(std::string_view pemKey);
  void Send(const std::vector<uint8_t>& bytes);
  [[noreturn]] void Unexpected(const std::string& what) const;

  TMySqlNet& net_;
  std::string password_;
  std::vector<uint8_t> nonce_;
  TAuthOptions options_;
  bool secureLink_;
  std::string plugin_;
  std::vector<uint8_t> firstAnswer_;
  bool switched_ = false;
  bool awaitingKey_ = false;
  int moreData_ = 0;
};

}  // namespace da::mysql
