#include "Deployment.h"

#include <filesystem>
#include <system_error>

#include "DeploymentDefaults.h"
#include "RatePage.h"
#include "SettingsFile.h"
#include "common/CodePage.h"

namespace app {

DeploymentSettings BuiltInDeployment() {
  // CMake hands its values over as UTF-8; the connections take
  // Windows-1252. Paths stay the file system's own bytes.
  DeploymentSettings s;
  s.host = da::Utf8ToWin1252(kBuiltInCentralHost);
  s.port = kBuiltInCentralPort;
  s.database = da::Utf8ToWin1252(kBuiltInCentralDatabase);
  s.user = da::Utf8ToWin1252(kBuiltInCentralUser);
  s.password = da::Utf8ToWin1252(kBuiltInCentralPassword);
  s.identityFile = kBuiltInIdentityFile;
  return s;
}

std::string DeploymentFilePath() { return kBuiltInDeploymentFile; }

bool LoadDeployment(const std::string& path, DeploymentSettings& settings, std::string& error) {
  DeploymentSettings result = BuiltInDeployment();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    settings = result;
    return true;
  }
  const std::optional<SettingsFile> file = SettingsFile::Read(path, error);
  if (!file) return false;
  auto take = [&](const char* key, std::string& into) {
    if (auto value = file->Value(key)) into = *value;
  };
  take("servidor", result.host);
  take("basedados", result.database);
  take("utilizador", result.user);
  take("palavrapasse", result.password);
  take("identidade", result.identityFile);
  if (auto port = file->Value("porta")) {
    int value = 0;
    if (!TryIntegerValue(*port, value) || value < 1 || value > 65535) {
      error = path + ": porta \"" + *port + "\" is not a TCP port";
      return false;
    }
    result.port = value;
  }
  settings = result;
  return true;
}

}  // namespace app
