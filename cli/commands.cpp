#include "cli/commands.h"

#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "cli/shell_quote.h"
#include "cli/terminal_ui.h"
#include "common/filesystem.h"
#include "common/rename_journal.h"
#include "filetasks/file_build_run.h"
#include "filetasks/file_merge_run.h"
#include "filetasks/file_rename_run.h"
#include "foldertasks/folder_build_run.h"
#include "foldertasks/folder_rename_run.h"
#include "foldertasks/folder_merge_run.h"

namespace quorvane::cli {
namespace {

// A run that a signal ended, or whose question a signal answered, ends the program with 128
// + the signal's number, as a shell reports a program the signal killed.
int ExitStatusOf(RunOutcome outcome) {
  if (outcome != RunOutcome::Completed && StopSignal() != 0) return 128 + StopSignal();
  switch (outcome) {
    case RunOutcome::Completed: return kCompleted;
    case RunOutcome::Refused: return kRefused;
    case RunOutcome::Failed: return kFailed;
    case RunOutcome::Stopped: return kStopped;
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
      "takes names without a dot); default by mode: text *.txt, binary *.bin, word *.docx, "
      "excel *.xlsx; an empty pattern matches nothing");
  app.add_option("--mode", options->mode,
                 "text: every line copied unchanged and ended with CR LF; binary: the bytes "
                 "appended exactly; word: the documents joined into one, each from a new page; "
                 "excel: the sheets of the workbooks gathered into one workbook. Legacy .doc, "
                 ".xls, .rtf, .odt and .ods files (and a .doc or .xls DESTINATION) need "
                 "LibreOffice (soffice) to convert them")
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

// The options of the two create commands, one for each field of their windows. Numbers
// stay text, so the window's numeric test judges them.
struct CreateOptions {
  std::string folder;
  std::string from;
  std::string to;
  std::string step = "1";
  bool zero_fill = false;
  std::string prefix;
  std::string suffix;
  std::string template_path;
  bool yes = false;
  bool quiet = false;
};

// What differs between the two create commands.
struct CreateCommand {
  const char* caption;
  const char* folder_help;
  const char* suffix_help;
  const char* template_help;
  RunOutcome (*run)(FileSystem&, TaskUi&);
};

std::function<int()> DefineCreate(CLI::App& app, const CreateCommand& command) {
  auto options = std::make_shared<CreateOptions>();
  app.add_option("FOLDER", options->folder, command.folder_help)->required();
  app.add_option("--from", options->from, "first number (a whole number, may be negative)")
      ->required();
  app.add_option("--to", options->to,
                 "last number; the run stops at the last number that does not pass it")
      ->required();
  app.add_option("--step", options->step, "step between numbers; negative counts down; 0 is "
                                          "refused")
      ->default_str("1");
  app.add_flag("--zero-fill", options->zero_fill,
               "fill numbers with leading zeros to the length of the longer of the --from and "
               "--to texts (1 to 100 gives 001 ... 100)");
  CLI::Option* prefix = app.add_option("--prefix", options->prefix,
                                       "text before the number, used exactly as given");
  CLI::Option* suffix = app.add_option("--suffix", options->suffix, command.suffix_help);
  CLI::Option* template_option =
      app.add_option("--template", options->template_path, command.template_help);
  app.add_flag("--yes", options->yes,
               "answer Yes to questions (create a missing folder, replace files that are "
               "there); without it a terminal is asked and a script gets No");
  app.add_flag("--quiet", options->quiet, "no progress and no completion message");
  return [=] {
    TerminalUi ui(command.caption, options->yes, options->quiet);
    ui.SetText("txtPath", options->folder);
    ui.SetChecked("chkMod", template_option->count() > 0);
    ui.SetText("txtModPath", options->template_path);
    ui.SetText("txtFrom", options->from);
    ui.SetText("txtTo", options->to);
    ui.SetText("txtStep", options->step);
    ui.SetChecked("chkAddZero", options->zero_fill);
    // An option that is absent is the unticked box; an empty one is the ticked, empty box.
    ui.SetChecked("chkPre", prefix->count() > 0);
    ui.SetText("txtPre", options->prefix);
    ui.SetChecked("chkSuf", suffix->count() > 0);
    ui.SetText("txtSuf", options->suffix);
    return ExitStatusOf(command.run(SystemFileSystem(), ui));
  };
}

std::function<int()> DefineCreateFiles(CLI::App& app) {
  return DefineCreate(
      app, {"批建立文件", "folder to make the files in; a missing one is created after the question",
            "text after the number and a \".\" (the extension); without it, or with "
            "--suffix \"\", a name ends in the number",
            "make every file a copy of this file, its permissions and modification time "
            "included, instead of an empty file",
            RunFileBuild});
}

std::function<int()> DefineCreateFolders(CLI::App& app) {
  return DefineCreate(
      app, {"批建立目录", "folder to make the folders in; a missing one is created after the "
            "question",
            "text after the number",
            "make every folder a copy of this folder with everything in it; a folder that is "
            "there already receives the template's content, files of the same names replaced",
            RunFolderBuild});
}

// The options of the two rename commands, one for each field of their windows.
struct RenameOptions {
  std::string folder;
  std::string from;
  std::string step = "1";
  std::string digits;
  std::string prefix;
  std::string suffix;
  std::string pattern = "*.*";
  bool dry_run = false;
  bool yes = false;
  bool quiet = false;
};

struct MergeFoldersOptions {
  std::vector<std::string> sources;
  std::string target;
  bool all_levels = false;
  bool yes = false;
  bool quiet = false;
};

// What differs between the two rename commands.
struct RenameCommand {
  const char* caption;
  const char* folder_help;
  const char* suffix_help;
  bool has_pattern;
  RunOutcome (*run)(FileSystem&, TaskUi&);
  RunOutcome (*preview)(FileSystem&, TaskUi&, const RenamePreview&);
};

std::function<int()> DefineRename(CLI::App& app, const RenameCommand& command) {
  auto options = std::make_shared<RenameOptions>();
  app.add_option("FOLDER", options->folder, command.folder_help)->required();
  app.add_option("--from", options->from,
                 "number of the first item (a whole number, may be negative); each next item "
                 "in natural order gets one step more")
      ->required();
  app.add_option("--step", options->step, "step between numbers; negative counts down; 0 is "
                                          "refused")
      ->default_str("1");
  CLI::Option* digits = app.add_option(
      "--digits", options->digits, "fill numbers with leading zeros to this many digits");
  CLI::Option* prefix = app.add_option("--prefix", options->prefix,
                                       "text before the number, used exactly as given");
  CLI::Option* suffix = app.add_option("--suffix", options->suffix, command.suffix_help);
  if (command.has_pattern)
    app.add_option("--pattern", options->pattern,
                   "wildcard name of the files to rename (* any run, ? one character; a final "
                   ".* also takes names without a dot)")
        ->default_str("*.*");
  app.add_flag("--dry-run", options->dry_run,
               "check everything and print the plan, one \"old -> new\" line per item on "
               "standard output, without renaming or creating anything");
  app.add_flag("--yes", options->yes,
               "answer Yes to questions (create a missing folder); without it a terminal is "
               "asked and a script gets No");
  app.add_flag("--quiet", options->quiet, "no progress and no completion message");
  return [=] {
    TerminalUi ui(command.caption, options->yes, options->quiet);
    ui.SetText("txtPath", options->folder);
    ui.SetText("txtSourceName", options->pattern);
    ui.SetText("txtFrom", options->from);
    ui.SetText("txtStep", options->step);
    ui.SetChecked("chkAddZero", digits->count() > 0);
    ui.SetText("txtDigits", options->digits);
    // An option that is absent is the unticked box; an empty one is the ticked, empty box.
    ui.SetChecked("chkPre", prefix->count() > 0);
    ui.SetText("txtPre", options->prefix);
    ui.SetChecked("chkSuf", suffix->count() > 0);
    ui.SetText("txtSuf", options->suffix);
    if (!options->dry_run) return ExitStatusOf(command.run(SystemFileSystem(), ui));
    std::string line;
    // Each item is one line however its names are spelled: a name the shell would take
    // apart, or that holds a line break or " -> ", is quoted as ls quotes it.
    const RenamePreview print = [&line](const RenameItem& item) {
      if (OutputError() != 0) return;
      line.assign(ShellQuoted(item.old_name)).append(" -> ").append(ShellQuoted(item.new_name)) +=
          '\n';
      std::cout << line;
      NoteOutputFailure(std::cout);
    };
    const RunOutcome outcome = command.preview(SystemFileSystem(), ui, print);
    std::cout.flush();
    return ExitStatusOf(outcome);
  };
}

std::function<int()> DefineRenameFiles(CLI::App& app) {
  return DefineRename(
      app, {"批重命名文件", "folder whose matching files are renamed; a missing one is created "
            "after the question",
            "text after the number and a \".\" (the new extension); without it, or with "
            "--suffix \"\", a name ends in the number",
            true, RunFileRename, PreviewFileRename});
}

std::function<int()> DefineRenameFolders(CLI::App& app) {
  return DefineRename(
      app, {"批重命名目录", "folder whose direct subfolders (hidden ones included) are renamed",
            "text after the number", false, RunFolderRename, PreviewFolderRename});
}

std::function<int()> DefineMergeFolders(CLI::App& app) {
  auto options = std::make_shared<MergeFoldersOptions>();
  app.add_option("SOURCE_DIR", options->sources,
                 "source folders, in order; the same folder may be given twice")
      ->required();
  app.add_option("--target", options->target,
                 "the folder every file is copied into, under its own name; a "
                 "missing one is created after the question; its own tree is never read as a "
                 "source")
      ->type_name("TARGET_DIR")
      ->required();
  app.add_flag("--all-levels", options->all_levels,
               "take the files of every level of subfolders; without it, only those of each "
               "source folder and its direct subfolders");
  app.add_flag("--yes", options->yes,
               "answer Yes to questions (create a missing target folder); without it a "
               "terminal is asked and a script gets No");
  app.add_flag("--quiet", options->quiet, "no progress and no completion message");
  return [options] {
    TerminalUi ui("批合并目录", options->yes, options->quiet);
    ui.SetItems("lstFolderList", options->sources);
    ui.SetText("txtDestinationPath", options->target);
    ui.SetChecked("chkTotal", options->all_levels);
    return ExitStatusOf(RunFolderMerge(SystemFileSystem(), ui));
  };
}

struct RecoverOptions {
  bool undo = false;
};

std::function<int()> DefineRecover(CLI::App& app) {
  auto options = std::make_shared<RecoverOptions>();
  app.add_flag("--undo", options->undo,
               "bring every item back to its old name instead of finishing the batch");
  return [options] {
    TerminalUi ui("恢复重命名", true, false);
    return ExitStatusOf(RecoverInterrupted(SystemFileSystem(), ui, options->undo, true));
  };
}

struct UndoOptions {
  std::string folder;
  bool yes = false;
};

std::function<int()> DefineUndo(CLI::App& app) {
  auto options = std::make_shared<UndoOptions>();
  app.add_option("FOLDER", options->folder, "folder whose last rename batch is renamed back")
      ->required();
  app.add_flag("--yes", options->yes,
               "answer Yes to the question; without it a terminal is asked and a script gets No");
  return [options] {
    TerminalUi ui("撤销重命名", options->yes, false);
    return ExitStatusOf(UndoLastRename(SystemFileSystem(), ui, options->folder, std::nullopt));
  };
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"create-files",
       "Create files named prefix + number + \".\" + suffix in FOLDER for the numbers --from "
       "to --to by --step, empty or copies of a template; names are checked and files that are "
       "there counted before the first file is made",
       DefineCreateFiles},
      {"create-folders",
       "Create folders named prefix + number + suffix in FOLDER for the numbers --from to --to "
       "by --step, empty or copies of a template folder",
       DefineCreateFolders},
      {"rename-files",
       "Rename the files of FOLDER that match --pattern, in natural order (2 before 10), to "
       "prefix + number + \".\" + suffix from --from by --step; every new name is checked "
       "before the first rename, and each file is renamed in place",
       DefineRenameFiles},
      {"rename-folders",
       "Rename the direct subfolders of FOLDER, in natural order, to prefix + number + suffix "
       "from --from by --step; every new name is checked before the first rename",
       DefineRenameFolders},
      {"merge-files",
       "Merge the files of SOURCE_DIR that match a pattern, in natural order (2 before 10), "
       "into DESTINATION",
       DefineMergeFiles},
      {"merge-folders",
       "Copy every normal file (hidden ones aside) of each SOURCE_DIR and of its subfolders "
       "flat into --target, in the order given and then in natural order (2 before 10), level "
       "by level; a later file replaces an earlier one of the same name",
       DefineMergeFolders},
      {"recover",
       "Finish every rename batch that was cut short (a kill, a power cut), each item taken to "
       "its new name; with --undo, back to its old name. Nothing is ever replaced",
       DefineRecover},
      {"undo",
       "Rename the last completed rename batch of FOLDER back to the old names; refused, with "
       "nothing changed, when an item was moved or an old name is taken now",
       DefineUndo},
  };
  return kCommands;
}

}  // namespace quorvane::cli
