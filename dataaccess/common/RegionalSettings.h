#pragma once
// The user's regional settings: one process-wide object that starts from the
// system locale. Tests replace it for a scope with ScopedRegionalSettings.

#include <bitset>
#include <string>

namespace da {

struct RegionalSettings {
  // Patterns in the date-format notation of FormatDateTime: d dd m mm yy yyyy,
  // h hh n nn s ss z zzz, '/' for the date separator, ':' for the time one.
  std::string shortDateFormat = "dd/mm/yyyy";
  std::string longTimeFormat = "hh:nn:ss";
  char dateSeparator = '/';
  char timeSeparator = ':';
  char decimalSeparator = '.';
  // Lead bytes of a far-east multi-byte code page; empty for any other locale.
  std::bitset<256> leadBytes;

  bool FarEast() const { return leadBytes.any(); }
  bool IsLeadByte(unsigned char c) const { return leadBytes.test(c); }

  // The settings of the process's system locale (LANG, LC_*).
  static RegionalSettings FromSystemLocale();
};

// The process-wide settings; created from the system locale on first use.
RegionalSettings& Regional();

// Sets the process-wide settings for its lifetime and restores the previous
// ones afterwards.
class ScopedRegionalSettings {
 public:
  explicit ScopedRegionalSettings(const RegionalSettings& settings);
  ~ScopedRegionalSettings();
  ScopedRegionalSettings(const ScopedRegionalSettings&) = delete;
  ScopedRegionalSettings& operator=(const ScopedRegionalSettings&) = delete;

 private:
  RegionalSettings saved_;
};

}  // namespace da
