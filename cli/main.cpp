// quorvane-batch: every task of Quorvane without a window, through the same runs.
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>

#include "cli/commands.h"
#include "cli/terminal_ui.h"
#include "common/filesystem.h"
#include "common/utf8_locale.h"

namespace {

// What the program wrote is part of its result: a write to standard output or standard
// error that failed (a full disk, say) ends it with status 2 unless a signal ended it.
int EndOutput(int status) {
  using namespace quorvane::cli;
  std::cout.flush();
  const bool out_failed = NoteOutputFailure(std::cout);
  if (out_failed) {
    std::cerr << "系统错误："
              << quorvane::DescribeFailure("无法写入", "标准输出", OutputError()) << std::endl;
  }
  std::cerr.flush();
  NoteOutputFailure(std::cerr);
  if (OutputError() == 0 || (StopSignal() != 0 && status == 128 + StopSignal())) return status;
  return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  quorvane::UseUtf8CharacterHandling();
  CLI::App app{
      "Quorvane batch file utility. Messages are the program's own (Chinese) texts on standard "
      "error. Exit status: 0 completed, 1 input refused or a question answered No, 2 failure "
      "(a failed write to standard output or error included), 128 + the signal's number when "
      "SIGINT, SIGTERM or SIGHUP stopped the run (130 for Ctrl+C). "
      "Put -- before a path that begins with a dash."};
  app.require_subcommand(1);
  std::function<int()> run;
  for (const auto& command : quorvane::cli::Commands()) {
    CLI::App* sub = app.add_subcommand(command.name, command.help);
    auto runner = command.define(*sub);
    sub->callback([&run, runner] { run = runner; });
  }
  quorvane::cli::HandleStopSignals();
  int status = quorvane::cli::kCompleted;
  try {
    app.parse(argc, argv);
    status = run();
  } catch (const CLI::ParseError& e) {
    status = app.exit(e) == 0 ? quorvane::cli::kCompleted : quorvane::cli::kRefused;
  }
  return EndOutput(status);
}
