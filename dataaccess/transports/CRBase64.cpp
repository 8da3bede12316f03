#include "transports/CRBase64.h"

#include <openssl/evp.h>

#include <vector>

#include "common/Exception.h"

namespace da::transports {

std::string TBase64::Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  if (bytes.empty()) return out;
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string TBase64::Decode(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() % 4 != 0) throw Exception("Invalid Base64 text");
  std::string out(3 * (text.size() / 4), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) throw Exception("Invalid Base64 text");
  // EVP_DecodeBlock counts the padding as zero bytes.
  size_t padding = 0;
  if (text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

}  // namespace da::transports
