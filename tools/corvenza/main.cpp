// corvenza: a command-line tool over the library, for scripts, demos and tests.

#include <corvenza/corvenza.h>

#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"corvenza: body-measurement estimation requests from the command line"};
  app.set_version_flag("--version", std::string("corvenza ") + corvenza::versionString());
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success; 1 the operation failed (the message says what happened, then\n"
      "the error's [domain code]); 2 bad arguments (nothing was sent); 75 `queue run` left\n"
      "creations unfinished (run it again later).\n"
      "Messages: \"no request ID for this user\", \"the authentication service refused the API "
      "key\n"
      "(HTTP 401)\", \"cannot reach the authentication service\" or \"cannot reach the service\",\n"
      "\"no answer from HOST within 45 s while STEP\", \"object storage refused the photo\",\n"
      "\"the service refused the request\", \"request ID was created and left unfinished\",\n"
      "\"never subscribed\", \"start-up failed\". Details: the README.");
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
  corvenza::cli::addQueueCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : corvenza::cli::kExitUsage;
  }
  corvenza::CorvenzaEnterprise::shutdown();
  return exitCode;
}
