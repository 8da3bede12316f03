#pragma once
// Standard Base64 (A-Z, a-z, 0-9, "+", "/", "=" padding), as the HTTP
// client needs it for Basic credentials. Backed by libcrypto.

#include <string>
#include <string_view>

namespace da::transports {

class TBase64 {
 public:
  // The Base64 text of `bytes` (padded, no line breaks).
  static std::string Encode(std::string_view bytes);
  // The bytes of a padded Base64 text. Raises da::Exception "Invalid Base64
  // text" for a length that is not a multiple of 4 or a foreign character.
  static std::string Decode(std::string_view text);
};

}  // namespace da::transports
