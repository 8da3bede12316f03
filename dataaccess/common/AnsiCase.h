#pragma once
// Letter case of Windows-1252 text: upper- and lower-casing and comparisons
// that ignore case, for names the user types (fields, macros, parameters).
// Besides a-z, the accented letters of the code page map to their pair
// (à..þ <-> À..Þ except ÷/×, š/Š, œ/Œ, ž/Ž, ÿ/Ÿ); ß and µ have no upper
// form in the code page and stay as they are.

#include <string>
#include <string_view>

namespace da {

char AnsiUpperChar(char c);
char AnsiLowerChar(char c);
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);

// Equal when the texts differ at most in letter case.
bool AnsiSameText(std::string_view a, std::string_view b);
// <0, 0, >0 comparing the upper-cased texts byte by byte.
int AnsiCompareText(std::string_view a, std::string_view b);

}  // namespace da
