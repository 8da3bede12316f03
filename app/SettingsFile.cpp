#include "SettingsFile.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/AnsiCase.h"

namespace app {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<SettingsFile> SettingsFile::Parse(std::string_view text, std::string& error) {
  SettingsFile file;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == '#' || content.front() == ';') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || TrimBlanks(line.substr(0, eq)).empty()) {
      error = "line " + std::to_string(lineNumber) + " is not \"key=value\"";
      return std::nullopt;
    }
    file.values_[da::AnsiUpperCase(TrimBlanks(line.substr(0, eq)))] = std::string(line.substr(eq + 1));
  }
  return file;
}

std::optional<SettingsFile> SettingsFile::Read(const std::string& path, std::string& error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error = path + " is a folder, not a file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  std::string parseError;
  auto file = Parse(bytes.str(), parseError);
  if (!file) error = path + ": " + parseError;
  return file;
}

std::optional<std::string> SettingsFile::Value(std::string_view key) const {
  const auto it = values_.find(da::AnsiUpperCase(TrimBlanks(key)));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace app
