// myquery: runs SQL statements on a MySQL server through the data-access
// components and prints their results (see --help).

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "MyQueryArgs.h"
#include "MyQueryRun.h"

namespace {

std::optional<std::string> Env(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

// Reads a password from the terminal without echo (from standard input
// when there is no terminal).
std::string AskPassword() {
  FILE* tty = std::fopen("/dev/tty", "r+");
  FILE* in = tty ? tty : stdin;
  std::fputs("Enter password: ", tty ? tty : stderr);
  std::fflush(tty ? tty : stderr);
  termios saved{};
  const bool restore = isatty(fileno(in)) && tcgetattr(fileno(in), &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fileno(in), TCSAFLUSH, &quiet);
  }
  std::string password;
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n') password += static_cast<char>(c);
  if (restore) {
    tcsetattr(fileno(in), TCSAFLUSH, &saved);
    std::fputs("\n", tty ? tty : stderr);
  }
  if (tty) std::fclose(tty);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

}  // namespace

int main(int argc, char** argv) {
  myquery::Options options;
  try {
    options = myquery::ParseArgs(std::vector<std::string>(argv + 1, argv + argc), &Env);
  } catch (const myquery::UsageError& e) {
    std::cerr << "myquery: " << e.what() << "\n";
    return 1;
  }
  if (options.help) {
    std::cout << myquery::HelpText();
    return 0;
  }
  if (options.askPassword) options.password = AskPassword();

  std::string statements;
  if (!options.execute.empty()) {
    for (const std::string& e : options.execute) statements += e + ";\n";
  } else {
    statements.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  return myquery::Run(options, statements, std::cout, std::cerr);
}
