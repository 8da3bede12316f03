#pragma once
// The texts of the stores list and the overview list, and how values read
// from the databases become them. Texts are Windows-1252 bytes.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/DateTime.h"
#include "common/RegionalSettings.h"
#include "common/Variant.h"

namespace app {

inline constexpr std::size_t kCompanyNameWidth = 50;

// The customer's own store in the stores list: the company name cut or
// padded with spaces to 50 characters, then " (", the serial as given,
// and ")".
std::string OwnStoreEntry(std::string_view companyName, std::string_view serial);

// Removes leading and trailing spaces and control characters.
std::string TrimText(std::string_view text);

// A value turned into text (numbers and dates under the regional
// settings). Null cannot be: raises EVariantError.
std::string VariantText(const da::Variant& value);

// An overview entry: "[" old "%->" new "% " date " " time "] " client, the
// date in the short date format and the time in the long time format of
// `regional`.
std::string OverviewEntry(std::string_view oldRate, std::string_view newRate, da::TDateTime moment,
                          std::string_view client, const da::RegionalSettings& regional = da::Regional());

// The old rate of an overview entry as the removal reads it: raises
// EConvertError when the text is no integer (an empty text for a NULL).
int OldRateOf(std::string_view oldRateText);

}  // namespace app
