// The machine's converter: LibreOffice's soffice, run headless as a process of its own.
#include "office/converter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/filesystem.h"
#include "common/path.h"
#include "common/run_frame.h"

extern char** environ;

namespace quorvane::office {
namespace {

constexpr auto kTimeLimit = std::chrono::seconds(180);

// The export filter soffice needs for each format it writes for us.
const char* FilterFor(const std::string& format) {
  if (format == "docx") return "docx:MS Word 2007 XML";
  if (format == "xlsx") return "xlsx:Calc MS Excel 2007 XML";
  if (format == "doc") return "doc:MS Word 97";
  if (format == "xls") return "xls:MS Excel 97";
  return nullptr;
}

// A file URL for a local path: every byte outside the unreserved set is percent-encoded, so
// blanks and Chinese names reach soffice intact.
std::string FileUrl(const std::string& path) {
  static const char* kHex = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string Absolute(const std::string& path) {
  if (path.starts_with('/')) return path;
  char* cwd = ::getcwd(nullptr, 0);
  std::string absolute = cwd ? path::WithSeparator(cwd) + path : "./" + path;
  std::free(cwd);
  return absolute;
}

// The file name without its last extension.
std::string Stem(const std::string& path) {
  std::string name = path::NamePart(path);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

bool OnPath(const char* program) {
  const char* search = std::getenv("PATH");
  std::string folders = search ? search : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Runs `args` in a process group of its own with no terminal input or output, and waits for
// it at most `limit`; an overrun or a stop request of the run ends the whole group (soffice
// starts helpers of its own). Whatever happens, the group is gone and the child reaped on
// return. Gives the exit status, -1 after a signal, the time limit or a stop, or false with
// errno when it could not start.
bool RunQuietly(const std::vector<std::string>& args, std::chrono::seconds limit, int* status,
                bool* overran, bool* stopped) {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int failure = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failure != 0) {
    errno = failure;
    return false;
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto pause = std::chrono::milliseconds(5);
  int raw = 0;
  *overran = false;
  *stopped = false;
  for (;;) {
    const pid_t done = ::waitpid(pid, &raw, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    *stopped = StopAskedOnThisThread();
    *overran = !*stopped && std::chrono::steady_clock::now() >= deadline;
    if (*stopped || *overran) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  ::kill(-pid, SIGKILL);  // helpers left behind would hold the profile folder open
  *status = !*overran && !*stopped && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return true;
}

class SofficeConverter final : public Converter {
 public:
  bool Available() override { return OnPath("soffice"); }

  bool Convert(const std::string& source, const std::string& format,
               const std::string& out_folder, std::string* produced, std::string* err) override {
    const char* filter = FilterFor(format);
    if (!filter) {
      *err = DescribeFailure("无法转换文件", source, "不支持转换为 " + format + " 格式");
      return false;
    }
    const std::string folder = path::WithSeparator(Absolute(out_folder));
    const std::vector<std::string> args = {
        "soffice", "--headless", "--norestore", "--nologo", "--nodefault",
        "-env:UserInstallation=" + FileUrl(folder + ".quorvane-profile"),
        "--convert-to", filter, "--outdir", folder, Absolute(source)};
    int status = 0;
    bool overran = false, stopped = false;
    const bool ran = RunQuietly(args, kTimeLimit, &status, &overran, &stopped);
    const int failure = ran ? 0 : errno;
    std::string ignored;
    RemoveTree(SystemFileSystem(), folder + ".quorvane-profile", &ignored);
    if (!ran) {
      *err = DescribeFailure("无法启动 LibreOffice 转换文件", source, failure);
      return false;
    }
    const std::string result = folder + Stem(source) + "." + format;
    if (stopped) {
      *err = DescribeFailure("无法转换文件", source, "操作已停止");
      return false;
    }
    if (overran) {
      *err = DescribeFailure("无法转换文件", source,
                             "LibreOffice 在 " + std::to_string(kTimeLimit.count()) +
                                 " 秒内没有完成转换");
      return false;
    }
    if (status != 0 || SystemFileSystem().Kind(result) != PathKind::File) {
      *err = DescribeFailure("无法转换文件", source,
                             "LibreOffice 没能转换它（文件可能已损坏或受密码保护）");
      return false;
    }
    *produced = result;
    return true;
  }
};

}  // namespace

Converter& SystemConverter() {
  static SofficeConverter instance;
  return instance;
}

}  // namespace quorvane::office
