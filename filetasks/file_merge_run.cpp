#include "filetasks/file_merge_run.h"

#include <optional>
#include <string_view>
#include <vector>

#include "common/functions.h"
#include "common/path.h"
#include "common/write_path.h"
#include "office/office_merge.h"

namespace quorvane {
namespace {

constexpr const char* kProgressText = "正在合并文件...";
constexpr const char* kSavingText = "正在保存文件...";
constexpr size_t kBlockSize = 1 << 20;

// Collects small writes into large ones. The first failure is kept and later writes are
// dropped, so a caller checks ok() once per block instead of after every line.
class BufferedWriter {
 public:
  explicit BufferedWriter(WritableFile& file) : file_(file) { buffer_.reserve(kBlockSize); }

  void Put(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kBlockSize) Flush();
  }

  bool Flush() {
    if (ok() && !buffer_.empty()) file_.Write(buffer_.data(), buffer_.size(), &error_);
    buffer_.clear();
    return ok();
  }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  WritableFile& file_;
  std::string buffer_;
  std::string error_;
};

// Copies every line of `in` to `out` unchanged, each followed by CR LF. CR LF and LF both
// end a line; a CR that no LF follows is part of the line. A last line without an ending
// still gets CR LF, so the next source starts on a line of its own.
bool CopyLines(ReadableFile& in, std::vector<char>& block, BufferedWriter& out, bool skip_bom,
               std::string* err) {
  bool line_open = false;  // bytes of an unfinished line are written or held
  bool held_cr = false;    // the last block ended in CR; the next byte decides what it was
  bool at_start = true;
  for (;;) {
    const long long got = in.Read(block.data(), block.size(), err);
    if (got < 0) return false;
    if (got == 0) break;
    std::string_view data(block.data(), static_cast<size_t>(got));
    if (at_start && skip_bom && data.starts_with("\xEF\xBB\xBF")) data.remove_prefix(3);
    at_start = false;
    while (!data.empty()) {
      if (held_cr) {
        held_cr = false;
        if (data.front() == '\n') {
          out.Put("\r\n");
          line_open = false;
          data.remove_prefix(1);
          continue;
        }
        out.Put("\r");
      }
      const auto lf = data.find('\n');
      if (lf == std::string_view::npos) {
        held_cr = data.back() == '\r';
        out.Put(held_cr ? data.substr(0, data.size() - 1) : data);
        line_open = true;
        break;
      }
      std::string_view line = data.substr(0, lf);
      if (line.ends_with('\r')) line.remove_suffix(1);
      out.Put(line);
      out.Put("\r\n");
      line_open = false;
      data.remove_prefix(lf + 1);
    }
    if (!out.ok()) break;
  }
  if (held_cr) out.Put("\r");
  if (line_open) out.Put("\r\n");
  if (!out.ok()) {
    *err = out.error();
    return false;
  }
  return true;
}

class FileMerge {
 public:
  FileMerge(FileSystem& fs, RunFrame& frame, office::Converter& converter)
      : fs_(fs), frame_(frame), ui_(frame.ui()), converter_(converter) {}

  RunOutcome Run() {
    const std::string source_text = ui_.Text("txtSourcePath");
    if (path::Trimmed(source_text).empty())
      return frame_.Refuse("请输入源文件所在目录！", "txtSourcePath");
    if (!fs_.FolderExists(source_text))
      return frame_.Refuse("源文件目录不存在！", "txtSourcePath");
    destination_ = ui_.Text("txtDestinationPath");
    if (path::Trimmed(destination_).empty())
      return frame_.Refuse("请输入目标文件完整的路径！", "txtDestinationPath");
    // Only a regular file can take the merge: a folder, a pipe or a device is refused before
    // anything is asked or created, and so is a path that names no file at its end.
    if (path::EndsWithSeparator(destination_))
      return frame_.Refuse("目标文件路径“" + destination_ + "”没有文件名，请输入目标文件完整的路径！",
                           "txtDestinationPath");
    const PathKind destination_kind = fs_.Kind(destination_);
    if (destination_kind == PathKind::Folder)
      return frame_.Refuse("“" + destination_ + "”是一个目录，请输入目标文件完整的路径！",
                           "txtDestinationPath");
    if (destination_kind == PathKind::Other)
      return frame_.Refuse("“" + destination_ + "”不是普通文件，不能作为目标文件！",
                           "txtDestinationPath");
    const int mode = ui_.Selected("cboType");
    const auto office_kind = OfficeKind(mode);
    std::string err;
    if (office_kind && !office::CheckDestination(converter_, *office_kind, destination_, &err))
      return frame_.Refuse(err, "txtDestinationPath");
    if (destination_kind == PathKind::Missing) {
      if (!frame_.Ask("目标文件不存在！是否创建？")) {
        ui_.Focus("txtDestinationPath");
        return RunOutcome::Refused;
      }
      if (auto failure = CreateDestination()) return frame_.Fail(*failure);
    }

    frame_.Begin();
    // A pattern may name a subfolder (scans/*.bin): the names are joined to the folder they
    // were listed in, never to another folder where the same names may mean other files.
    const std::string pattern = path::WithSeparator(source_text) + ui_.Text("txtSourceName");
    NameList names = GetFileList(fs_, ui_, pattern);
    if (!names) return frame_.Fail("无法取得源文件列表");
    folder_ = path::FolderPart(pattern);
    if (auto ended = LeaveOutDestination(*names)) return *ended;
    if (names->empty())
      return frame_.Stop("没有符合条件的文件存在，请重新设置文件类型和源文件名！");
    if (names->size() == 1)
      return frame_.Stop("只有一个文件（" + std::string(names->front()) + "）符合条件，不需要合并！");

    const bool as_text = mode == static_cast<int>(MergeMode::Text);
    const bool merged = office_kind ? MergeOffice(*office_kind, *names, &err)
                        : as_text || mode == static_cast<int>(MergeMode::Binary)
                            ? Merge(*names, as_text, &err)
                            : true;
    if (stopped_at_) return frame_.Stopped(*stopped_at_, static_cast<long long>(names->size()));
    if (!merged) return frame_.Fail(err);
    return frame_.Complete();
  }

 private:
  // Makes the missing destination an empty file, creating its folders first. The folder
  // routine reports its own failure; the file creation then names the path that failed.
  std::optional<std::string> CreateDestination() {
    std::string folder = path::FolderPart(destination_);
    if (!folder.empty() && !fs_.FolderExists(folder)) CreatePath(fs_, ui_, folder);
    std::string err;
    if (!fs_.CreateTextFile(destination_, &err)) return err;
    return std::nullopt;
  }

  // The destination is left out of the list so a run never reads what it writes: when it
  // lies in the source folder (whatever the path texts say), its own name goes. A source that
  // is the destination under another name (a link, a second name) would be emptied by the
  // merge that reads it, so the run is refused, naming both. Only a destination that is
  // there can be a source, so a new one costs no lookup per file.
  std::optional<RunOutcome> LeaveOutDestination(Names& names) {
    const auto destination = fs_.Identify(destination_);
    if (!destination) return std::nullopt;
    const auto source_folder = fs_.Identify(folder_);
    if (source_folder && fs_.Identify(path::FolderPart(destination_)) == source_folder)
      names.Remove(path::NamePart(destination_));
    std::string source;
    for (const std::string_view name : names) {
      source.assign(folder_).append(name);
      if (fs_.Identify(source) == destination)
        return frame_.Stop("目标文件“" + destination_ + "”就是源文件“" + source +
                               "”（同一个文件的另一个名称），没有合并任何文件！",
                           "txtDestinationPath");
    }
    return std::nullopt;
  }

  static std::optional<office::DocumentKind> OfficeKind(int mode) {
    if (mode == static_cast<int>(MergeMode::Word)) return office::DocumentKind::Word;
    if (mode == static_cast<int>(MergeMode::Excel)) return office::DocumentKind::Excel;
    return std::nullopt;
  }

  // Joins the documents or gathers the workbooks: the caption moves on after each source and
  // says when the result is being saved.
  bool MergeOffice(office::DocumentKind kind, const Names& names, std::string* err) {
    const auto total = static_cast<long long>(names.size());
    frame_.Progress(kProgressText, 0, total);
    office::MergeProgress progress;
    progress.source_done = [&](long long done, long long all) {
      frame_.Progress(kProgressText, done, all);
    };
    progress.saving = [&] { frame_.Progress(kSavingText); };
    progress.stopped = [&](long long done) { stopped_at_ = done; };
    return office::MergeDocuments(fs_, converter_, kind, folder_, names, destination_, progress,
                                  err);
  }

  // Writes the sources one after another into the destination, showing the progress after
  // each: line by line in text mode, as raw bytes otherwise.
  bool Merge(const Names& names, bool as_text, std::string* err) {
    const auto total = static_cast<long long>(names.size());
    frame_.Progress(kProgressText, 0, total);
    auto result = FileWrite::Begin(fs_, destination_, err);
    if (!result) return false;
    WritableFile* out = &result->file();
    BufferedWriter writer(*out);
    std::vector<char> block(as_text ? kBlockSize : 0);  // one read buffer for the whole run
    std::string source;
    for (size_t i = 0; i < names.size(); ++i) {
      if (frame_.StopAsked()) {
        stopped_at_ = static_cast<long long>(i);  // the destination keeps what it held
        return false;
      }
      source.assign(folder_).append(names[i]);
      auto in = fs_.OpenRead(source, err);
      // A UTF-8 mark opens the first source only; later ones would put it mid-file.
      const bool copied = in && (as_text ? CopyLines(*in, block, writer, i > 0, err)
                                         : out->AppendFrom(*in, err));
      if (!copied) {
        if (frame_.StopAsked()) stopped_at_ = static_cast<long long>(i);  // a copy cut short
        return false;
      }
      frame_.Progress(kProgressText, static_cast<long long>(i + 1), total);
    }
    // Small sources share the writer's large blocks; the last block goes before the close.
    if (!writer.Flush()) {
      *err = writer.error();
      return false;
    }
    return result->Commit(err);
  }

  FileSystem& fs_;
  RunFrame& frame_;
  TaskUi& ui_;
  office::Converter& converter_;
  std::string destination_;
  std::string folder_;
  std::optional<long long> stopped_at_;  // the sources done when a stop request ended it
};

}  // namespace

// The office modes default to the formats a current office suite writes.
const char* MergeModePattern(int mode) {
  static constexpr const char* kPatterns[] = {"*.txt", "*.bin", "*.docx", "*.xlsx"};
  return mode >= 0 && mode < 4 ? kPatterns[mode] : nullptr;
}

RunOutcome RunFileMerge(FileSystem& fs, TaskUi& ui) {
  return RunFileMerge(fs, ui, office::SystemConverter());
}

RunOutcome RunFileMerge(FileSystem& fs, TaskUi& ui, office::Converter& converter) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FileMerge(fs, frame, converter).Run(); });
}

}  // namespace quorvane
