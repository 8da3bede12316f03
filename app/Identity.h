#pragma once
// The installation identity: the company name and the serial of the
// point-of-sale installation whose stores the tool lists. The installation
// leaves them in an identity file (a SettingsFile, SettingsFile.h, in
// Windows-1252) at the path of the deployment settings:
//   empresa   the company name, byte for byte as written
//   serial    the serial, byte for byte as written
// Store discovery asks the identity source once per run, before any
// database work.

#include <functional>
#include <string>

namespace app {

struct InstallationIdentity {
  std::string companyName;
  std::string serial;
  bool operator==(const InstallationIdentity&) const = default;
};

// Answers true with the identity, or false with `error` saying why it
// could not be had (the reason is for logs and tests; the window shows a
// fixed text).
using IdentitySource = std::function<bool(InstallationIdentity& identity, std::string& error)>;

// Reads the identity file at `path`: false when the file cannot be read,
// is not in the settings form, or lacks either key.
bool ReadIdentityFile(const std::string& path, InstallationIdentity& identity, std::string& error);

// The source that reads the file at `path` each time it is asked.
IdentitySource IdentityFileSource(std::string path);

}  // namespace app
