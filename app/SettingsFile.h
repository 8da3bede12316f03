#pragma once
// The small text files the installation gives the tool (the deployment
// settings, the installation identity): Windows-1252 text, one "key=value"
// per line, lines ending in LF or CR LF. Blank lines and lines whose first
// non-blank character is '#' or ';' are comments.
//
// Keys are matched ignoring letter case and surrounding blanks. A value is
// everything after the first '=' up to the end of its line, byte for byte:
// nothing is trimmed, so a company name padded with spaces or a password
// ending in one arrives as written. A key given twice keeps its last value.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace app {

class SettingsFile {
 public:
  // Parses text already read. A line without '=' (other than a comment) is
  // an error: the result is empty and `error` names the line.
  static std::optional<SettingsFile> Parse(std::string_view text, std::string& error);
  // Reads and parses the file at `path`; empty, with `error` saying why,
  // when it cannot be opened or read, or is not in the form above.
  static std::optional<SettingsFile> Read(const std::string& path, std::string& error);

  // The value of `key`, or nothing when the file does not give it.
  std::optional<std::string> Value(std::string_view key) const;

 private:
  std::map<std::string, std::string> values_;  // keys upper-cased
};

}  // namespace app
