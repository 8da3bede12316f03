#include "mysql/MySqlAuth.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Format.h"
#include "mysql/MyCall.h"
#include "mysql/MySqlErrors.h"
#include "mysql/MySqlNet.h"
#include "mysql/MySqlSession.h"

namespace da::mysql {
namespace {

constexpr size_t kNonceLength = 20;
constexpr size_t kOldScrambleLength = 8;

// Packets the server sends during the exchange (first byte).
constexpr uint8_t kOkPacket = 0x00;
constexpr uint8_t kMoreData = 0x01;
constexpr uint8_t kSwitchRequest = 0xFE;

// caching_sha2_password: the server's more-data codes and our key request.
constexpr uint8_t kFastAuthSucceeded = 0x03;
constexpr uint8_t kFullAuthNeeded = 0x04;
constexpr uint8_t kRequestPublicKey = 0x02;

// Public keys larger than this are not keys.
constexpr size_t kMaxPemKey = 16384;

[[noreturn]] void CannotLoad(std::string_view plugin, std::string_view reason) {
  throw EMySqlException(CR_AUTH_PLUGIN_CANNOT_LOAD,
                        Format("Authentication plugin '%s' cannot be loaded: %s", {std::string(plugin),
                                                                                    std::string(reason)}));
}

[[noreturn]] void PluginError(std::string_view plugin, std::string_view reason) {
  throw EMySqlException(CR_AUTH_PLUGIN_ERR, Format("Authentication plugin '%s' reported error: %s",
                                                   {std::string(plugin), std::string(reason)}));
}

TSha256Digest Sha256(const uint8_t* data, size_t length) {
  TSha256Digest digest{};
  unsigned int size = 0;
  if (EVP_Digest(data, length, digest.data(), &size, EVP_sha256(), nullptr) != 1 || size != digest.size())
    throw Exception("SHA-256 is not available");
  return digest;
}

// Known plugins; the clear-text one only where nobody can read the link.
bool IsKnownPlugin(std::string_view plugin) {
  return plugin == kNativePasswordPlugin || plugin == kCachingSha2Plugin || plugin == kClearPasswordPlugin ||
         plugin == kOldPasswordPlugin;
}

struct TPkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TPkeyCtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct TDecoderFree {
  void operator()(OSSL_DECODER_CTX* ctx) const { OSSL_DECODER_CTX_free(ctx); }
};

// An RSA public key in PEM, either as SubjectPublicKeyInfo ("PUBLIC KEY")
// or as a bare RSA key ("RSA PUBLIC KEY"); null when it is neither.
std::unique_ptr<EVP_PKEY, TPkeyFree> ReadPublicKey(std::string_view pem) {
  EVP_PKEY* key = nullptr;
  std::unique_ptr<OSSL_DECODER_CTX, TDecoderFree> decoder(
      OSSL_DECODER_CTX_new_for_pkey(&key, "PEM", nullptr, "RSA", EVP_PKEY_PUBLIC_KEY, nullptr, nullptr));
  if (!decoder) return nullptr;
  const auto* data = reinterpret_cast<const unsigned char*>(pem.data());
  size_t length = pem.size();
  if (OSSL_DECODER_from_data(decoder.get(), &data, &length) != 1) return nullptr;
  return std::unique_ptr<EVP_PKEY, TPkeyFree>(key);
}

std::string ReadKeyFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) PluginError(kCachingSha2Plugin, "cannot open the server's public key file '" + path + "'");
  std::string text;
  char piece[4096];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, file.get())) > 0) {
    text.append(piece, n);
    if (text.size() > kMaxPemKey) break;
  }
  if (std::ferror(file.get()) || text.size() > kMaxPemKey)
    PluginError(kCachingSha2Plugin, "cannot read the server's public key file '" + path + "'");
  return text;
}

}  // namespace

TSha256Digest ScrambleCachingSha2(std::string_view password, const uint8_t* nonce, size_t nonceLength) {
  TSha256Digest p1 = Sha256(reinterpret_cast<const uint8_t*>(password.data()), password.size());
  TSha256Digest p2 = Sha256(p1.data(), p1.size());
  std::vector<uint8_t> joined(p2.begin(), p2.end());
  joined.insert(joined.end(), nonce, nonce + nonceLength);
  TSha256Digest p3 = Sha256(joined.data(), joined.size());
  for (size_t i = 0; i < p1.size(); ++i) p1[i] ^= p3[i];
  OPENSSL_cleanse(p2.data(), p2.size());
  return p1;
}

std::vector<uint8_t> EncryptPasswordRsa(std::string_view password, const uint8_t* nonce, size_t nonceLength,
                                        std::string_view pemKey) {
  if (nonceLength == 0) PluginError(kCachingSha2Plugin, "no challenge to encrypt the password with");
  std::unique_ptr<EVP_PKEY, TPkeyFree> key = ReadPublicKey(pemKey);
  if (!key) PluginError(kCachingSha2Plugin, "the server's public key is not a PEM RSA public key");
  std::unique_ptr<EVP_PKEY_CTX, TPkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1)
    PluginError(kCachingSha2Plugin, "RSA encryption is not available");

  std::vector<uint8_t> plain(password.begin(), password.end());
  plain.push_back(0);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] ^= nonce[i % nonceLength];
  // OAEP with SHA-1 takes at most the key size less 42 bytes.
  const int keyBytes = EVP_PKEY_get_size(key.get());
  if (keyBytes <= 42 || plain.size() > static_cast<size_t>(keyBytes - 42)) {
    OPENSSL_cleanse(plain.data(), plain.size());
    PluginError(kCachingSha2Plugin, "the password is too long for the server's public key");
  }
  size_t outLength = 0;
  std::vector<uint8_t> out;
  bool ok = EVP_PKEY_encrypt(ctx.get(), nullptr, &outLength, plain.data(), plain.size()) == 1;
  if (ok) {
    out.resize(outLength);
    ok = EVP_PKEY_encrypt(ctx.get(), out.data(), &outLength, plain.data(), plain.size()) == 1;
    out.resize(outLength);
  }
  OPENSSL_cleanse(plain.data(), plain.size());
  if (!ok) PluginError(kCachingSha2Plugin, "RSA encryption of the password failed");
  return out;
}

bool WantsPluginAuth(uint32_t serverCapabilities, const std::string& serverPlugin, const TAuthOptions& options) {
  const uint32_t needed = CLIENT_PLUGIN_AUTH | CLIENT_SECURE_CONNECTION | CLIENT_PROTOCOL_41;
  if ((serverCapabilities & needed) != needed) return false;
  return !options.plugin.empty() || (!serverPlugin.empty() && serverPlugin != kNativePasswordPlugin);
}

// ---------------------------------------------------------------------------

TMySqlAuth::TMySqlAuth(TMySqlNet& net, std::string_view password, const uint8_t* nonce20,
                       const std::string& serverPlugin, const TAuthOptions& options, bool secureLink)
    : net_(net),
      password_(password),
      nonce_(nonce20, nonce20 + kNonceLength),
      options_(options),
      secureLink_(secureLink) {
  if (!options_.plugin.empty()) {
    plugin_ = options_.plugin;
  } else if (serverPlugin == kCachingSha2Plugin) {
    plugin_ = serverPlugin;
  } else {
    // A plugin we lack, or the clear-text one (never offered unasked): the
    // native answer, and the server switches us if the account needs another.
    plugin_ = std::string(kNativePasswordPlugin);
  }
  firstAnswer_ = AnswerFor(plugin_, nonce_);
  // The login packet gives the answer a one-byte length.
  if (firstAnswer_.size() > 255) PluginError(plugin_, "the password is too long for the login packet");
}

TMySqlAuth::~TMySqlAuth() {
  if (!password_.empty()) OPENSSL_cleanse(password_.data(), password_.size());
}

std::vector<uint8_t> TMySqlAuth::AnswerFor(const std::string& plugin, const std::vector<uint8_t>& nonce) const {
  if (!IsKnownPlugin(plugin)) CannotLoad(plugin, "not available in this client");
  std::vector<uint8_t> answer;
  if (plugin == kNativePasswordPlugin) {
    if (nonce.size() != kNonceLength) Unexpected("a challenge of " + std::to_string(nonce.size()) + " bytes");
    if (password_.empty()) return answer;
    TSHA1Managed::TDigest token = Scramble41(password_, nonce.data());
    answer.assign(token.begin(), token.end());
  } else if (plugin == kCachingSha2Plugin) {
    if (nonce.size() != kNonceLength) Unexpected("a challenge of " + std::to_string(nonce.size()) + " bytes");
    if (password_.empty()) return answer;
    TSha256Digest token = ScrambleCachingSha2(password_, nonce.data(), nonce.size());
    answer.assign(token.begin(), token.end());
  } else if (plugin == kClearPasswordPlugin) {
    // A server may ask for this to learn the password; it gets it only
    // where nobody else can read it.
    if (!secureLink_) CannotLoad(plugin, "the password would travel in clear over a connection that is not secure");
    answer.assign(password_.begin(), password_.end());
    answer.push_back(0);
  } else {  // kOldPasswordPlugin
    if (nonce.size() < kOldScrambleLength) Unexpected("a challenge of " + std::to_string(nonce.size()) + " bytes");
    if (!password_.empty()) {
      std::array<uint8_t, 8> s = Scramble323(password_, nonce.data());
      answer.assign(s.begin(), s.end());
    }
    answer.push_back(0);
  }
  return answer;
}

void TMySqlAuth::Run() {
  for (;;) {
    net_.ReceivePacket();  // an error packet raises the server's error
    if (net_.Size() == 0) Unexpected("an empty packet");
    switch (net_.Memory()[0]) {
      case kOkPacket: return;
      case kSwitchRequest:
        if (net_.Size() == 1)
          OldPasswordRequest();
        else
          SwitchPlugin();
        break;
      case kMoreData: MoreData(); break;
      default: Unexpected(Format("a packet of %d bytes, first byte $%X",
                                 {static_cast<int>(net_.Size()), int{net_.Memory()[0]}}));
    }
  }
}

void TMySqlAuth::SwitchPlugin() {
  // 0xFE, the plugin name ending in a zero byte, the plugin's data.
  if (switched_) Unexpected("a second switch of the authentication plugin");
  switched_ = true;
  const uint8_t* packet = net_.Memory();
  const size_t size = net_.Size();
  const void* end = std::memchr(packet + 1, 0, size - 1);
  if (!end) Unexpected("a switch request without its plugin name");
  const size_t nameEnd = static_cast<size_t>(static_cast<const uint8_t*>(end) - packet);
  std::string plugin(reinterpret_cast<const char*>(packet + 1), nameEnd - 1);
  std::vector<uint8_t> nonce(packet + nameEnd + 1, packet + size);
  // The challenge travels with a trailing zero byte that is not part of it.
  if (nonce.size() == kNonceLength + 1 && nonce.back() == 0) nonce.pop_back();
  std::vector<uint8_t> answer = AnswerFor(plugin, nonce);
  plugin_ = std::move(plugin);
  nonce_ = std::move(nonce);
  awaitingKey_ = false;
  Send(answer);
}

void TMySqlAuth::OldPasswordRequest() {
  // A lone 0xFE: the account has a 3.23 password; the challenge stays the
  // greeting's.
  if (switched_) Unexpected("a second switch of the authentication plugin");
  switched_ = true;
  plugin_ = std::string(kOldPasswordPlugin);
  awaitingKey_ = false;
  Send(AnswerFor(plugin_, nonce_));
}

void TMySqlAuth::MoreData() {
  if (++moreData_ > kMaxMoreData) Unexpected("more than " + std::to_string(kMaxMoreData) + " more-data packets");
  if (plugin_ != kCachingSha2Plugin) Unexpected("more data for plugin '" + plugin_ + "'");
  const uint8_t* data = net_.Memory() + 1;
  const size_t size = net_.Size() - 1;
  if (awaitingKey_) {
    awaitingKey_ = false;
    if (size > kMaxPemKey) PluginError(kCachingSha2Plugin, "the server's public key is too long");
    SendPasswordEncrypted(std::string_view(reinterpret_cast<const char*>(data), size));
    return;
  }
  if (size == 1 && data[0] == kFastAuthSucceeded) return;  // the OK packet follows
  if (size == 1 && data[0] == kFullAuthNeeded) {
    FullAuthentication();
    return;
  }
  Unexpected(Format("more data of %d bytes for plugin '%s'", {static_cast<int>(size), plugin_}));
}

void TMySqlAuth::FullAuthentication() {
  // The server has no cached hash for the account and needs the password.
  if (secureLink_) {
    std::vector<uint8_t> answer(password_.begin(), password_.end());
    answer.push_back(0);
    Send(answer);
    OPENSSL_cleanse(answer.data(), answer.size());
    return;
  }
  if (!options_.serverPublicKeyFile.empty()) {
    SendPasswordEncrypted(ReadKeyFile(options_.serverPublicKeyFile));
    return;
  }
  if (!options_.getServerPublicKey)
    PluginError(kCachingSha2Plugin,
                "Authentication requires secure connection (TLS, a local socket or the server's public key)");
  awaitingKey_ = true;
  Send({kRequestPublicKey});
}

void TMySqlAuth::SendPasswordEncrypted(std::string_view pemKey) {
  Send(EncryptPasswordRsa(password_, nonce_.data(), nonce_.size(), pemKey));
}

void TMySqlAuth::Send(const std::vector<uint8_t>& bytes) {
  net_.ResetWrite();
  if (bytes.empty()) {
    net_.SendEmptyPacket();
    return;
  }
  net_.WriteBytes(bytes.data(), bytes.size());
  net_.FlushPacket();
}

void TMySqlAuth::Unexpected(const std::string& what) const {
  throw EMySqlException(CR_SERVER_HANDSHAKE_ERR, "Unexpected answer to the login: " + what);
}

}  // namespace da::mysql
