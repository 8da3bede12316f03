#pragma once
// The rate page's own logic, without a window: the key filter of its numeric
// fields, how each input is read with its fallback, and the moment a change
// is scheduled for. Texts are Windows-1252 bytes as the controls give them.

#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace app {

inline constexpr int kFallbackOldRate = 13;
inline constexpr int kFallbackNewRate = 23;
inline constexpr int kFallbackDecimalPlaces = 2;

// The integer value of a text: a decimal conversion of the whole text (an
// optional sign and digits, nothing else, within the 32-bit range). False,
// with `value` untouched, when the conversion fails.
bool TryIntegerValue(std::string_view text, int& value);
int IntegerValueOr(std::string_view text, int fallback);

// The filter of the old rate, the new rate and the decimal places: backspace
// (8), carriage return (13) and the digits pass, every other character is
// discarded.
bool IsRateFieldKey(char key);

// The description the new rate stands for: the text of `nova` followed by
// "%" (what leaving `nova` writes into `descricao`).
std::string RateDescription(std::string_view novaText);

// The page's inputs as read from its controls.
struct RatePageInputs {
  std::string anterior;   // old rate
  std::string nova;       // new rate
  std::string descricao;  // description
  std::string casas;      // decimal places for rounding
  bool opnovataxa = false;
  bool opvenda = false;
  bool oparredondar = false;
  da::TDateTime date = 0;  // the date of `data`
  int hour = 0, minute = 0, second = 0;  // the time of `hora`
};

// The change the inputs describe, every fallback applied.
struct RateChange {
  int oldRate = kFallbackOldRate;
  int newRate = kFallbackNewRate;
  std::string description;  // as typed, or RateDescription(nova) when empty
  int keepOldRate = 0;      // opnovataxa: 1 checked, 0 not
  int updateSalePrices = 0; // opvenda
  int roundPrices = 0;      // oparredondar
  int decimalPlaces = kFallbackDecimalPlaces;
  da::TDateTime moment = 0;  // date and time, milliseconds 0
};

RateChange ReadRateChange(const RatePageInputs& inputs);

// The decimal places as the rounding check reads them: 0 when the text is
// empty or not a number; the check passes from 1 to 3.
int RoundingPlacesToCheck(std::string_view casasText);
bool RoundingPlacesInRange(int places);

// The local moment of a date (its time of day ignored) at a time of day,
// milliseconds 0. Raises EConvertError for a time outside the clock.
da::TDateTime ScheduledMoment(da::TDateTime date, int hour, int minute, int second);
// Only a moment strictly later than `now` may be scheduled.
bool IsSchedulableMoment(da::TDateTime moment, da::TDateTime now);

// The day after `today`, at midnight.
da::TDateTime Tomorrow(da::TDateTime today);

}  // namespace app
