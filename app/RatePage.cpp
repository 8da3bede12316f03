#include "RatePage.h"

#include <charconv>
#include <cmath>

namespace app {

bool TryIntegerValue(std::string_view text, int& value) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    // "+-5" is no number.
    if (!digits.empty() && digits.front() == '-') return false;
  }
  if (digits.empty()) return false;
  int parsed = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, parsed, 10);
  if (ec != std::errc() || ptr != end) return false;
  value = parsed;
  return true;
}

int IntegerValueOr(std::string_view text, int fallback) {
  int value = fallback;
  return TryIntegerValue(text, value) ? value : fallback;
}

bool IsRateFieldKey(char key) { return key == '\b' || key == '\r' || (key >= '0' && key <= '9'); }

std::string RateDescription(std::string_view novaText) { return std::string(novaText) + "%"; }

RateChange ReadRateChange(const RatePageInputs& inputs) {
  RateChange change;
  change.oldRate = IntegerValueOr(inputs.anterior, kFallbackOldRate);
  change.newRate = IntegerValueOr(inputs.nova, kFallbackNewRate);
  change.description = inputs.descricao.empty() ? RateDescription(inputs.nova) : inputs.descricao;
  change.keepOldRate = inputs.opnovataxa ? 1 : 0;
  change.updateSalePrices = inputs.opvenda ? 1 : 0;
  change.roundPrices = inputs.oparredondar ? 1 : 0;
  change.decimalPlaces = IntegerValueOr(inputs.casas, kFallbackDecimalPlaces);
  change.moment = ScheduledMoment(inputs.date, inputs.hour, inputs.minute, inputs.second);
  return change;
}

int RoundingPlacesToCheck(std::string_view casasText) { return IntegerValueOr(casasText, 0); }

bool RoundingPlacesInRange(int places) { return places >= 1 && places <= 3; }

da::TDateTime ScheduledMoment(da::TDateTime date, int hour, int minute, int second) {
  da::DateTimeParts parts = da::DecodeDateTime(date);
  parts.hour = hour;
  parts.minute = minute;
  parts.second = second;
  parts.millisecond = 0;
  return da::EncodeDateTime(parts);
}

bool IsSchedulableMoment(da::TDateTime moment, da::TDateTime now) { return now < moment; }

da::TDateTime Tomorrow(da::TDateTime today) { return std::trunc(today) + 1; }

}  // namespace app
