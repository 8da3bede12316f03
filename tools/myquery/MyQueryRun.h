#pragma once
// Running myquery's statements on a TMyConnection through TMyQuery and
// printing what they give.

#include <iosfwd>
#include <string>

#include "MyQueryArgs.h"

namespace myquery {

// Connects with `options` (the password already resolved), runs every
// statement of `statements` in order and prints results on `out`, errors
// on `err`. Stops at the first error. Answers the exit status: 0, or 1
// after an error.
int Run(const Options& options, const std::string& statements, std::ostream& out, std::ostream& err);

// A value as a row line shows it: \N for NULL; tab, line feed, carriage
// return, NUL and backslash escaped.
std::string EscapeValue(const std::string& value);

// An error message on one line: a leading line break and the "#" SQL state
// marker of a server error dropped, further line breaks shown as ": ".
std::string DisplayMessage(const std::string& message);

}  // namespace myquery
