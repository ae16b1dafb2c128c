// corvenza: a command-line tool over the library, for scripts, demos and tests.

#include <corvenza/corvenza.h>

#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"corvenza: body-measurement estimation requests from the command line"};
  app.set_version_flag("--version", std::string("corvenza ") + corvenza::versionString());
  app.require_subcommand(1);
  int exitCode = corvenza::cli::kExitOk;
  corvenza::cli::addConfigCommand(app, exitCode);
  corvenza::cli::addPreparePhotoCommand(app, exitCode);
  corvenza::cli::addCreateCommand(app, exitCode);
  corvenza::cli::addGetCommand(app, exitCode);
  corvenza::cli::addListCommand(app, exitCode);
  corvenza::cli::addUpdateCommand(app, exitCode);
  corvenza::cli::addDeleteCommand(app, exitCode);
  corvenza::cli::addWatchCommand(app, exitCode);
  corvenza::cli::addSignOutCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : corvenza::cli::kExitUsage;
  }
  corvenza::CorvenzaEnterprise::shutdown();
  return exitCode;
}
