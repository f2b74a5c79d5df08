#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

namespace quorvane::cli {

/// Exit statuses of quorvane-batch.
enum ExitStatus { kCompleted = 0, kRefused = 1, kFailed = 2, kStopped = 130 };

/// One subcommand: its name, its help line, and a function that adds its options to the
/// subcommand and returns what runs it once the command line has been read.
struct Command {
  const char* name;
  const char* help;
  std::function<std::function<int()>(CLI::App&)> define;
};

/// Every subcommand of quorvane-batch, one per task.
const std::vector<Command>& Commands();

}  // namespace quorvane::cli
