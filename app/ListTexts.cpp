#include "ListTexts.h"

#include "RatePage.h"
#include "common/TextFormat.h"

namespace app {

std::string OwnStoreEntry(std::string_view companyName, std::string_view serial) {
  std::string entry(companyName.substr(0, kCompanyNameWidth));
  entry.resize(kCompanyNameWidth, ' ');
  entry += " (";
  entry += serial;
  entry += ')';
  return entry;
}

std::string TrimText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string VariantText(const da::Variant& value) {
  if (value.IsNull()) throw da::EVariantError("Could not convert variant of type (Null) into type (String)");
  return value.AsString();
}

std::string OverviewEntry(std::string_view oldRate, std::string_view newRate, da::TDateTime moment,
                          std::string_view client, const da::RegionalSettings& regional) {
  std::string entry = "[";
  entry += oldRate;
  entry += "%->";
  entry += newRate;
  entry += "% ";
  entry += da::FormatDateTime(regional.shortDateFormat, moment, regional);
  entry += ' ';
  entry += da::FormatDateTime(regional.longTimeFormat, moment, regional);
  entry += "] ";
  entry += client;
  return entry;
}

int OldRateOf(std::string_view oldRateText) {
  int value = 0;
  if (!TryIntegerValue(oldRateText, value))
    throw da::EConvertError("'" + std::string(oldRateText) + "' is not a valid integer value");
  return value;
}

}  // namespace app
