// corvenza sign-out: forgets the stored token of this service and user and
// empties the offline cache.

#include <iostream>
#include <memory>

#include "cli_session.h"
#include "commands.h"

namespace corvenza::cli {

void addSignOutCommand(CLI::App& app, int& exitCode) {
  auto global = std::make_shared<GlobalOptions>();
  auto* command = app.add_subcommand(
      "sign-out",
      "Forget the stored token of this authentication service and user, and empty the offline "
      "cache; nothing is sent");
  addGlobalOptions(*command, *global);
  command->callback([=, &exitCode] {
    auto session = Session::start(*global);
    if (!session) {
      exitCode = kExitFailure;
      return;
    }
    CorvenzaEnterprise::clearCredentials();
    std::cerr << "corvenza: signed out\n";
    exitCode = kExitOk;
  });
}

}  // namespace corvenza::cli
