#include "common/RegionalSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace da {
namespace {

struct CodesetLeadBytes {
  const char* codeset;
  unsigned char ranges[2][2];
};

// Double-byte code pages and the byte ranges that start a two-byte character.
constexpr CodesetLeadBytes kFarEastCodesets[] = {
    {"GBK", {{0x81, 0xFE}, {0, 0}}},       {"GB2312", {{0xA1, 0xF7}, {0, 0}}},
    {"GB18030", {{0x81, 0xFE}, {0, 0}}},   {"CP936", {{0x81, 0xFE}, {0, 0}}},
    {"BIG5", {{0x81, 0xFE}, {0, 0}}},      {"BIG5-HKSCS", {{0x81, 0xFE}, {0, 0}}},
    {"CP950", {{0x81, 0xFE}, {0, 0}}},     {"EUC-KR", {{0x81, 0xFE}, {0, 0}}},
    {"CP949", {{0x81, 0xFE}, {0, 0}}},     {"SHIFT_JIS", {{0x81, 0x9F}, {0xE0, 0xFC}}},
    {"SJIS", {{0x81, 0x9F}, {0xE0, 0xFC}}}, {"CP932", {{0x81, 0x9F}, {0xE0, 0xFC}}},
    {"EUC-JP", {{0x8E, 0x8E}, {0xA1, 0xFE}}},
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Turns a strftime pattern into the FormatDateTime notation and notes the
// first separator it uses. Unknown conversions are dropped.
std::string FromStrftime(std::string_view f, char& separator, bool date) {
  std::string out;
  bool sepSeen = false;
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c != '%') {
      if (!std::isalnum(static_cast<unsigned char>(c)) && !sepSeen) {
        separator = c;
        sepSeen = true;
      }
      if (c == separator) out += date ? '/' : ':';
      else if (c == '/' || c == ':' || std::isalpha(static_cast<unsigned char>(c))) out += std::string("\"") + c + "\"";
      else out += c;
      continue;
    }
    if (++i >= f.size()) break;
    char conv = f[i];
    if (conv == 'E' || conv == 'O' || conv == '-' || conv == '_' || conv == '0') {
      if (++i >= f.size()) break;
      conv = f[i];
    }
    switch (conv) {
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "mm"; break;
      case 'y': out += "yy"; break;
      case 'Y': out += "yyyy"; break;
      case 'H': case 'I': out += "hh"; break;
      case 'k': case 'l': out += "h"; break;
      case 'M': out += "nn"; break;
      case 'S': out += "ss"; break;
      case 'p': out += "AMPM"; break;
      case 'D': out += "mm/dd/yy"; if (!sepSeen) { separator = '/'; sepSeen = true; } break;
      case 'T': out += "hh:nn:ss"; if (!sepSeen) { separator = ':'; sepSeen = true; } break;
      case 'R': out += "hh:nn"; if (!sepSeen) { separator = ':'; sepSeen = true; } break;
      case 'F': out += "yyyy/mm/dd"; if (!sepSeen) { separator = '-'; sepSeen = true; } break;
      default: break;
    }
  }
  return out;
}

}  // namespace

RegionalSettings RegionalSettings::FromSystemLocale() {
  RegionalSettings s;
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return s;

  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  if (radix && std::strlen(radix) == 1) s.decimalSeparator = radix[0];

  const char* dfmt = nl_langinfo_l(D_FMT, loc);
  if (dfmt && *dfmt) {
    std::string f = FromStrftime(dfmt, s.dateSeparator, true);
    if (!f.empty()) s.shortDateFormat = f;
  }
  const char* tfmt = nl_langinfo_l(T_FMT, loc);
  if (tfmt && *tfmt) {
    std::string f = FromStrftime(tfmt, s.timeSeparator, false);
    if (!f.empty()) s.longTimeFormat = f;
  }

  const char* codeset = nl_langinfo_l(CODESET, loc);
  if (codeset) {
    std::string cs = Upper(codeset);
    for (const auto& entry : kFarEastCodesets) {
      if (cs != entry.codeset) continue;
      for (const auto& range : entry.ranges)
        for (int b = range[0]; range[0] && b <= range[1]; ++b) s.leadBytes.set(b);
    }
  }
  freelocale(loc);
  return s;
}

RegionalSettings& Regional() {
  static RegionalSettings settings = RegionalSettings::FromSystemLocale();
  return settings;
}

ScopedRegionalSettings::ScopedRegionalSettings(const RegionalSettings& settings) : saved_(Regional()) {
  Regional() = settings;
}

ScopedRegionalSettings::~ScopedRegionalSettings() { Regional() = saved_; }

}  // namespace da
