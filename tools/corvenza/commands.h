#pragma once
// Each subcommand of the corvenza tool registers itself on the application.

#include <CLI/CLI.hpp>

namespace corvenza::cli {

/// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

/// `corvenza config`: prints the configuration as start-up reads it.
void addConfigCommand(CLI::App& app, int& exitCode);
/// `corvenza prepare-photo IN OUT`: writes the JPEG a photo becomes for upload.
void addPreparePhotoCommand(CLI::App& app, int& exitCode);
void addGetCommand(CLI::App& app, int& exitCode);
void addListCommand(CLI::App& app, int& exitCode);
void addUpdateCommand(CLI::App& app, int& exitCode);
void addDeleteCommand(CLI::App& app, int& exitCode);
void addCreateCommand(CLI::App& app, int& exitCode);
/// `corvenza watch`: prints request changes as they happen.
void addWatchCommand(CLI::App& app, int& exitCode);
/// `corvenza sign-out`: forgets the stored token and empties the offline cache.
void addSignOutCommand(CLI::App& app, int& exitCode);
/// `corvenza queue add|run|list|drop`: the durable creation queue.
void addQueueCommand(CLI::App& app, int& exitCode);

}  // namespace corvenza::cli
