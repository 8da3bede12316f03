// Connects to the server named by DATEST_HOST/PORT/USER/PASSWORD/DATABASE,
// runs one statement with a parameter and prints its value.

#include <cstdlib>
#include <iostream>
#include <string>

#include "components/MyAccess.h"

static std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

int main() {
  try {
    da::TMyConnection cn;
    cn.SetLoginPrompt(false);
    cn.SetServer(Env("DATEST_HOST"));
    cn.SetPort(std::atoi(Env("DATEST_PORT").c_str()));
    cn.SetUsername(Env("DATEST_USER"));
    cn.SetPassword(Env("DATEST_PASSWORD"));
    cn.SetDatabase(Env("DATEST_DATABASE"));
    da::TMyQuery q;
    q.SetConnection(&cn);
    q.SetSQLText("SELECT :a + 1 AS r");
    q.ParamNamed("a").SetAsInteger(41);
    q.Open();
    std::cout << q.FieldNamed("r").AsInteger() << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "consumer: " << e.what() << "\n";
    return 1;
  }
}
