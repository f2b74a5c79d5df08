#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvane::testing {

TempDir::TempDir(const std::string& parent) {
  std::string pattern =
      ((parent.empty() ? fs::temp_directory_path() : fs::path(parent)) / "quorvane-test-XXXXXX")
          .native();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& relative, const std::string& bytes) const {
  const fs::path full = fs::path(path_) / relative;
  fs::create_directories(full.parent_path());
  std::ofstream(full, std::ios::binary) << bytes;
  return full.native();
}

std::string TempDir::MakeFolder(const std::string& relative) const {
  fs::create_directories(fs::path(path_) / relative);
  return (fs::path(path_) / relative).native();
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  const char* before = ::getenv(name_.c_str());
  had_ = before != nullptr;
  if (had_) saved_ = before;
  ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), saved_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().lexically_relative(folder).native();
    if (e.is_symlink()) entries.push_back(name + " -> " + fs::read_symlink(e.path()).native());
    else if (e.is_directory()) entries.push_back(name + "/");
    else entries.push_back(name + "=" + ReadAll(e.path()));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

bool ConvertWithOffice(const std::string& folder, const std::string& files,
                       const std::string& format) {
  if (Shell("test -x /usr/bin/soffice && echo y") != "y\n") return false;
  const std::string out = format.substr(0, format.find(':'));
  Shell("cd '" + folder + "' && timeout 300 /usr/bin/soffice -env:UserInstallation=file://" +
        folder + "/profile --headless --convert-to " + format + " --outdir " + out + " " + files);
  return true;
}

}  // namespace quorvane::testing
