#include "cli/commands.h"

#include <map>
#include <memory>
#include <string>

#include "cli/terminal_ui.h"
#include "common/filesystem.h"
#include "filetasks/file_merge_run.h"

namespace quorvane::cli {
namespace {

int ExitStatusOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Completed: return kCompleted;
    case RunOutcome::Refused: return kRefused;
    case RunOutcome::Failed: return kFailed;
  }
  return kFailed;
}

struct MergeFilesOptions {
  std::string source;
  std::string destination;
  std::string pattern;
  std::string mode = "text";
  bool yes = false;
  bool quiet = false;
};

std::function<int()> DefineMergeFiles(CLI::App& app) {
  auto options = std::make_shared<MergeFilesOptions>();
  static const std::map<std::string, int> kModes = {
      {"text", static_cast<int>(MergeMode::Text)},
      {"binary", static_cast<int>(MergeMode::Binary)},
      {"word", static_cast<int>(MergeMode::Word)},
      {"excel", static_cast<int>(MergeMode::Excel)}};
  app.add_option("SOURCE_DIR", options->source, "folder that holds the files to merge")
      ->required();
  app.add_option("DESTINATION", options->destination,
                 "the merged file (full path); it is never read as one of the sources")
      ->required();
  CLI::Option* pattern = app.add_option(
      "--pattern", options->pattern,
      "wildcard name of the files to merge (* any run, ? one character; a final .* also "
      "takes names without a dot); default by mode: text *.txt, binary *.bin, word *.doc, "
      "excel *.xls; an empty pattern matches nothing");
  app.add_option("--mode", options->mode,
                 "text: every line copied unchanged and ended with CR LF; binary: the bytes "
                 "appended exactly; word, excel: not available in this version")
      ->check(CLI::IsMember({"text", "binary", "word", "excel"}))
      ->default_str("text");
  app.add_flag("--yes", options->yes,
               "answer Yes to questions (create a missing destination); without it a "
               "terminal is asked and a script gets No");
  app.add_flag("--quiet", options->quiet, "no progress and no completion message");
  return [options, pattern] {
    const int mode = kModes.at(options->mode);
    TerminalUi ui("批合并文件", options->yes, options->quiet);
    ui.SetText("txtSourcePath", options->source);
    ui.SetText("txtDestinationPath", options->destination);
    ui.SetText("txtSourceName", pattern->count() > 0 ? options->pattern : MergeModePattern(mode));
    ui.SetSelected("cboType", mode);
    return ExitStatusOf(RunFileMerge(SystemFileSystem(), ui));
  };
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"merge-files",
       "Merge the files of SOURCE_DIR that match a pattern, in natural order (2 before 10), "
       "into DESTINATION",
       DefineMergeFiles},
  };
  return kCommands;
}

}  // namespace quorvane::cli
