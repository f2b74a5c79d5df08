#include "office/office_merge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <vector>

#include "common/path.h"
#include "common/run_frame.h"
#include "common/write_path.h"
#include "office/excel_gather.h"
#include "office/package.h"
#include "office/sniff.h"
#include "office/word_join.h"
#include "office/xml.h"

namespace quorvane::office {
namespace {

// What the messages and the converter need to know of one kind of document.
struct KindTraits {
  const char* noun;                                  // in messages: " Word 文档"
  std::initializer_list<const char*> legacy;         // converted before the merge
  std::initializer_list<const char*> other_legacy;   // the other kind's legacy formats
  const char* native;                                // what the engine writes
  const char* legacy_destination;                    // a destination converted back
  const char* converter_package;                     // what to install for the converter
};

const KindTraits kWord = {" Word 文档", {"doc", "rtf", "odt"}, {"xls", "ods"}, "docx", "doc",
                          "libreoffice-writer-nogui"};
const KindTraits kExcel = {" Excel 工作簿", {"xls", "ods"}, {"doc", "rtf", "odt"}, "xlsx", "xls",
                           "libreoffice-calc-nogui"};

const KindTraits& TraitsOf(DocumentKind kind) { return kind == DocumentKind::Word ? kWord : kExcel; }

// The extension of the file name in `path`, in lower case; empty without one.
std::string ExtensionOf(const std::string& path) {
  const std::string name = path::NamePart(path);
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool IsOneOf(const std::string& extension, std::initializer_list<const char*> list) {
  return std::any_of(list.begin(), list.end(), [&](const char* e) { return extension == e; });
}

std::string Refusal(const std::string& path, const std::string& reason) {
  return "无法合并文件“" + path + "”：" + reason;
}

std::string NeedsConverter(const std::string& path, const KindTraits& traits, bool destination) {
  return (destination ? "无法保存为“" : "无法读取文件“") + path + "”：" +
         (destination ? "保存为" : "读取") + "旧格式的" + traits.noun +
         "需要 LibreOffice 转换，但它没有安装。请先安装 " + traits.converter_package +
         "（sudo apt-get install " + traits.converter_package + "）";
}

bool IsLegacyDestination(const KindTraits& traits, const std::string& destination) {
  return ExtensionOf(destination) == traits.legacy_destination;
}

// The kind of document a package holds, by the content type of its main part.
std::optional<DocumentKind> KindOf(const Package& package) {
  const std::string type = package.ContentType(package.MainPart());
  if (type.find("wordprocessingml") != std::string::npos ||
      type.find("ms-word") != std::string::npos)
    return DocumentKind::Word;
  if (type.find("spreadsheetml") != std::string::npos ||
      type.find("ms-excel") != std::string::npos)
    return DocumentKind::Excel;
  return std::nullopt;
}

std::string NothingMerged(const std::string& message) { return message + "，没有合并任何文件！"; }

// Office 2007's pre-release formats: the same parts under namespaces of their own.
bool IsPreReleaseNamespace(const std::string& uri) {
  for (const char* root : {"http://schemas.openxmlformats.org/wordprocessingml/2006/",
                           "http://schemas.openxmlformats.org/spreadsheetml/2006/",
                           "http://schemas.microsoft.com/office/word/2006/",
                           "http://schemas.microsoft.com/office/excel/2006/"})
    if (uri.starts_with(root)) return true;
  return false;
}

// What is refused of a file whose bytes are a compound file rather than a package; empty
// for a legacy file of `kind` itself, which the converter can take.
std::string CompoundRefusal(FileContent content, const std::string& shown,
                            const KindTraits& traits) {
  switch (content) {
    case FileContent::Encrypted:
      return Refusal(shown, "文档已加密（受密码保护），请先去掉密码再合并");
    case FileContent::LegacyWord:
    case FileContent::LegacyExcel: {
      const KindTraits& found = content == FileContent::LegacyWord ? kWord : kExcel;
      if (&found != &traits)
        return Refusal(shown, std::string("这是旧格式的") + found.noun + "，不是" + traits.noun);
      return {};
    }
    default:
      return Refusal(shown, std::string("不是有效的") + traits.noun +
                                "（文件已损坏，或不是 Office Open XML 格式的文档）");
  }
}

// Opens the bytes of a file as a package of `kind`, refusing, with a message that names
// `shown` (the file the user listed), anything the engine cannot merge. `verify` reads and
// checks every part as well, as the first opening of each source does.
std::unique_ptr<Package> OpenChecked(std::string bytes, const std::string& shown,
                                     DocumentKind kind, bool verify, std::string* err) {
  const KindTraits& traits = TraitsOf(kind);
  if (const FileContent content = SniffContent(bytes); content != FileContent::Other) {
    *err = CompoundRefusal(content, shown, traits);
    if (err->empty())
      *err = "文件“" + shown + "”是旧格式的" + traits.noun + "，请将扩展名改为 ." +
             traits.legacy_destination;
    return nullptr;
  }
  std::string reason;
  bool damaged = false;
  auto package = Package::FromBytes(std::move(bytes), shown, &reason, &damaged);
  if (!package) {
    *err = damaged ? NothingMerged(reason)
                   : Refusal(shown, std::string("不是有效的") + traits.noun +
                                        "（文件已损坏，或不是 Office Open XML 格式的文档）");
    return nullptr;
  }
  if (package->Strict()) {
    *err = Refusal(shown, std::string("这是 Strict Open XML 格式的文档，无法合并；请在 Office "
                                      "中另存为普通的") + traits.noun);
    return nullptr;
  }
  const auto found = KindOf(*package);
  if (found != kind) {
    *err = Refusal(shown, found ? std::string("这是") + TraitsOf(*found).noun + "，不是" +
                                      traits.noun
                                : std::string("不是") + traits.noun);
    return nullptr;
  }
  if (!verify) return package;
  if (!package->Verify(&reason)) {
    *err = NothingMerged(reason);
    return nullptr;
  }
  const std::string& main = package->MainNamespace();
  if (main != (kind == DocumentKind::Word ? ns::kWord : ns::kSheet)) {
    *err = Refusal(shown, IsPreReleaseNamespace(main)
                              ? std::string("这是 Office 2007 测试版格式的") + traits.noun +
                                    "，无法合并；请在 Office 中另存为普通的" + traits.noun
                              : std::string("主体部分的命名空间“") + main + "”未知，不是" +
                                    traits.noun);
    return nullptr;
  }
  return package;
}

std::unique_ptr<Package> OpenChecked(FileSystem& fs, const std::string& path,
                                     const std::string& shown, DocumentKind kind, bool verify,
                                     std::string* err) {
  std::string bytes;
  if (!ReadWholeFile(fs, path, &bytes, err)) return nullptr;
  return OpenChecked(std::move(bytes), shown, kind, verify, err);
}

// A folder of our own under the temporary-files folder for the converter's work, removed
// with everything in it however the merge ends.
class PrivateFolder {
 public:
  explicit PrivateFolder(FileSystem& fs) : fs_(fs) {}
  ~PrivateFolder() {
    std::string ignored;
    if (!path_.empty()) RemoveTree(fs_, path_, &ignored);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // A new empty folder inside it, made on first use.
  bool NewFolder(std::string* folder, std::string* err) {
    if (path_.empty() && !Make(err)) return false;
    *folder = path_ + "/" + std::to_string(++folders_);
    return fs_.CreateFolder(*folder, err);
  }

 private:
  bool Make(std::string* err) {
    std::string temp;
    if (!fs_.TempFolder(&temp, err)) return false;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[40];
      std::snprintf(name, sizeof name, "quorvane-office-%016llx",
                    static_cast<unsigned long long>(random()));
      const std::string candidate = path::WithSeparator(temp) + name;
      if (fs_.CreateFolder(candidate, err)) {
        path_ = candidate;
        return fs_.SetPermissions(path_, 0700, err);
      }
      PathEntry there;
      if (!fs_.Examine(candidate, &there, err) || there.kind == EntryKind::Missing) return false;
    }
    return false;
  }

  FileSystem& fs_;
  std::string path_;
  int folders_ = 0;
};

// One merge: the checks before anything is read, every source opened and checked, then the
// join and the save.
class OfficeMerge {
 public:
  OfficeMerge(FileSystem& fs, Converter& converter, DocumentKind kind,
              const std::string& destination, const MergeProgress& progress)
      : fs_(fs),
        converter_(converter),
        kind_(kind),
        traits_(TraitsOf(kind)),
        destination_(destination),
        progress_(progress),
        private_(fs) {}

  // A failure that a stop request caused (a conversion ended halfway) is a stop too.
  bool Run(const std::string& folder, const Names& names, std::string* err) {
    if (Merge(folder, names, err)) return true;
    if (progress_.stopped && (stop_asked_ || StopAskedOnThisThread())) progress_.stopped(done_);
    return false;
  }

 private:
  bool Merge(const std::string& folder, const Names& names, std::string* err) {
    for (const auto& name : names) sources_.push_back({folder + std::string(name), {}});
    if (!CheckFormats(err)) return false;
    const auto destination_identity = fs_.Identify(destination_);
    for (auto& source : sources_) {
      if (StopAsked()) return false;
      source.skip = destination_identity && fs_.Identify(source.path) == destination_identity;
      if (!source.skip && !Prepare(source, err)) return false;
    }
    return Join(err) && !StopAsked() && Save(err);
  }

  bool StopAsked() { return stop_asked_ = StopAskedOnThisThread(); }

  struct Source {
    std::string path;  // as listed
    std::string read;  // what is read: the file itself or its converted copy
    bool skip = false;
  };

  // Legacy formats need the converter; the other kind's legacy formats are refused at once.
  bool CheckFormats(std::string* err) {
    const bool converter = converter_.Available();
    for (const auto& source : sources_) {
      const std::string extension = ExtensionOf(source.path);
      if (IsOneOf(extension, traits_.other_legacy)) {
        *err = Refusal(source.path, std::string("不是") + traits_.noun);
        return false;
      }
      if (!converter && IsOneOf(extension, traits_.legacy)) {
        *err = NeedsConverter(source.path, traits_, false);
        return false;
      }
    }
    return converter || CheckDestination(converter_, kind_, destination_, err);
  }

  bool LegacyDestination() const { return IsLegacyDestination(traits_, destination_); }

  // Converts a legacy source (by its name, or by its content whatever its name, when the
  // converter is there) into the private folder, then opens and checks what is read. Memory
  // running out on a source names that source.
  bool Prepare(Source& source, std::string* err) {
    try {
      source.read = source.path;
      if (IsOneOf(ExtensionOf(source.path), traits_.legacy)) return Convert(source, err);
      std::string bytes;
      if (!ReadWholeFile(fs_, source.path, &bytes, err)) return false;
      const FileContent legacy =
          kind_ == DocumentKind::Word ? FileContent::LegacyWord : FileContent::LegacyExcel;
      if (converter_.Available() && SniffContent(bytes) == legacy) return Convert(source, err);
      return OpenChecked(std::move(bytes), source.path, kind_, true, err) != nullptr;
    } catch (const std::bad_alloc&) {
      *err = NothingMerged("内存不足，无法读取文件“" + source.path + "”");
      return false;
    }
  }

  bool Convert(Source& source, std::string* err) {
    std::string folder;
    return private_.NewFolder(&folder, err) &&
           converter_.Convert(source.path, traits_.native, folder, &source.read, err) &&
           OpenChecked(fs_, source.read, source.path, kind_, true, err) != nullptr;
  }

  // Each source is opened again and joined, one at a time; what the result needs of it is
  // taken into the join, and its pictures and sheets are read again at the save.
  bool Join(std::string* err) {
    const auto total = static_cast<long long>(sources_.size());
    if (kind_ == DocumentKind::Excel) excel_ = std::make_unique<ExcelGather>(fs_);
    else word_ = std::make_unique<WordJoin>();
    for (size_t i = 0; i < sources_.size(); ++i) {
      const Source& source = sources_[i];
      done_ = static_cast<long long>(i);
      if (StopAsked()) return false;
      if (!source.skip) {
        if (!JoinOne(source, err)) return false;
        ++joined_;
      }
      if (progress_.source_done) progress_.source_done(static_cast<long long>(i + 1), total);
    }
    done_ = total;
    if (joined_ == 0) {
      *err = Refusal(destination_, "没有可合并的文件（源文件就是目标文件）");
      return false;
    }
    return true;
  }

  bool JoinOne(const Source& source, std::string* err) {
    try {
      auto package = OpenChecked(fs_, source.read, source.path, kind_, false, err);
      if (!package) return false;
      if (excel_) return excel_->Add(*package, source.read, err);
      if (joined_ == 0) return word_->Start(*package, err);
      return word_->Append(*package, fs_, source.read, err);
    } catch (const std::bad_alloc&) {
      *err = NothingMerged("内存不足，无法合并文件“" + source.path + "”");
      return false;
    }
  }

  // The result goes straight over the destination in the native format; a legacy
  // destination is saved in our folder, converted there, and copied over the destination
  // once the conversion is complete.
  bool Save(std::string* err) {
    if (progress_.saving) progress_.saving();
    if (!LegacyDestination()) return SaveNative(destination_, err);
    std::string folder, converted;
    if (!private_.NewFolder(&folder, err)) return false;
    std::string stem = path::NamePart(destination_);
    stem.resize(stem.size() - std::string(traits_.legacy_destination).size() - 1);
    if (stem.empty() || stem.starts_with('.')) stem = "merged" + stem;
    const std::string native = folder + "/" + stem + "." + traits_.native;
    std::string out;
    if (!SaveNative(native, err) || !private_.NewFolder(&out, err)) return false;
    if (!converter_.Convert(native, traits_.legacy_destination, out, &converted, err)) {
      *err = "无法保存为“" + destination_ + "”：" + *err;
      return false;
    }
    return ReplaceWithCopy(fs_, converted, destination_, err);
  }

  bool SaveNative(const std::string& path, std::string* err) {
    try {
      return excel_ ? excel_->Save(path, err) : word_->Save(fs_, path, err);
    } catch (const std::bad_alloc&) {
      *err = "内存不足，无法保存文件“" + destination_ + "”";
      return false;
    }
  }

  FileSystem& fs_;
  Converter& converter_;
  const DocumentKind kind_;
  const KindTraits& traits_;
  const std::string& destination_;
  const MergeProgress& progress_;
  std::vector<Source> sources_;
  std::unique_ptr<WordJoin> word_;
  std::unique_ptr<ExcelGather> excel_;
  int joined_ = 0;
  long long done_ = 0;       // sources joined so far
  bool stop_asked_ = false;  // a stop request ended the merge at one of its points
  PrivateFolder private_;  // last: removed before anything else goes
};

}  // namespace

bool CheckDestination(Converter& converter, DocumentKind kind, const std::string& destination,
                      std::string* err) {
  const KindTraits& traits = TraitsOf(kind);
  if (!IsLegacyDestination(traits, destination) || converter.Available()) return true;
  *err = NeedsConverter(destination, traits, true);
  return false;
}

bool MergeDocuments(FileSystem& fs, Converter& converter, DocumentKind kind,
                    const std::string& folder, const Names& names,
                    const std::string& destination, const MergeProgress& progress,
                    std::string* err) {
  return OfficeMerge(fs, converter, kind, destination, progress).Run(folder, names, err);
}

}  // namespace quorvane::office
