#include "Identity.h"

#include "SettingsFile.h"

namespace app {

bool ReadIdentityFile(const std::string& path, InstallationIdentity& identity, std::string& error) {
  const std::optional<SettingsFile> file = SettingsFile::Read(path, error);
  if (!file) return false;
  std::optional<std::string> company = file->Value("empresa");
  std::optional<std::string> serial = file->Value("serial");
  if (!company || !serial) {
    error = path + ": " + (company ? "serial" : "empresa") + " is missing";
    return false;
  }
  identity = InstallationIdentity{std::move(*company), std::move(*serial)};
  return true;
}

IdentitySource IdentityFileSource(std::string path) {
  return [path = std::move(path)](InstallationIdentity& identity, std::string& error) {
    return ReadIdentityFile(path, identity, error);
  };
}

}  // namespace app
