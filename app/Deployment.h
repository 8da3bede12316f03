#pragma once
// The deployment settings: where the central database is and with which
// account the tool reaches it (and every customer database), and where the
// installation identity lies. They are fixed when the tool is built (the
// CMake cache variables AGENDAIVA_*) and may be replaced, key by key, by
// the deployment file that the installation leaves at a path also fixed at
// build time (AGENDAIVA_DEPLOYMENT_FILE). The user is never asked for them
// and never sees them.
//
// The deployment file is a SettingsFile (SettingsFile.h) with these keys:
//   servidor      host of the central server ("" means localhost)
//   porta         TCP port of every server the tool connects to (1..65535)
//   basedados     name of the central database
//   utilizador    account of the central and the customer databases
//   palavrapasse  its password
//   identidade    path of the installation identity file
// Keys it does not give keep the built-in values; other keys are ignored.
// Texts are Windows-1252; paths are the file system's own bytes.

#include <string>

namespace app {

inline constexpr int kDefaultMySqlPort = 3306;

struct DeploymentSettings {
  std::string host;
  int port = kDefaultMySqlPort;
  std::string database;
  std::string user;
  std::string password;
  std::string identityFile;
  bool operator==(const DeploymentSettings&) const = default;
};

// The values built into the program.
DeploymentSettings BuiltInDeployment();
// Where the installation leaves the deployment file.
std::string DeploymentFilePath();

// The built-in values with those of the deployment file at `path` laid over
// them. A missing file is no error: the built-in values stand. False, with
// `error` saying why, when the file exists but cannot be read, is not in the
// settings form, or gives a port that is not a number from 1 to 65535;
// `settings` is then left as it was.
bool LoadDeployment(const std::string& path, DeploymentSettings& settings, std::string& error);

}  // namespace app
