#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvane::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "quorvane-test-XXXXXX").native();
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

void TempDir::MakeFolder(const std::string& relative) const {
  fs::create_directories(fs::path(path_) / relative);
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

}  // namespace quorvane::testing
