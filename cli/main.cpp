// quorvane-batch: every task of Quorvane without a window, through the same runs.
#include <CLI/CLI.hpp>

#include <functional>

#include "cli/commands.h"
#include "common/utf8_locale.h"

int main(int argc, char** argv) {
  quorvane::UseUtf8CharacterHandling();
  CLI::App app{
      "Quorvane batch file utility. Messages are the program's own (Chinese) texts on standard "
      "error. Exit status: 0 completed, 1 input refused or a question answered No, 2 failure. "
      "Put -- before a path that begins with a dash."};
  app.require_subcommand(1);
  std::function<int()> run;
  for (const auto& command : quorvane::cli::Commands()) {
    CLI::App* sub = app.add_subcommand(command.name, command.help);
    auto runner = command.define(*sub);
    sub->callback([&run, runner] { run = runner; });
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? quorvane::cli::kCompleted : quorvane::cli::kRefused;
  }
  return run();
}
