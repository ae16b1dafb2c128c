#pragma once
// Runs a shell command line for the command-line tool's tests: its standard
// output, standard error and exit code.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace corvenza::test {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

/// @p text in single quotes for the shell.
inline std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

/// Runs @p command with /bin/sh; standard error is collected through @p errFile.
inline ToolRun runShell(const std::string& command, const std::filesystem::path& errFile) {
  ToolRun run;
  FILE* pipe = popen((command + " 2>" + shellQuoted(errFile.string())).c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errFile);
  std::ostringstream text;
  text << err.rdbuf();
  run.err = text.str();
  return run;
}

}  // namespace corvenza::test
