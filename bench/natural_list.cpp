// quorvane-natural-list FOLDER PATTERN: the files of FOLDER that match PATTERN, in the order
// quorvane takes them, each as FOLDER/NAME followed by a NUL byte. The benchmarks feed this
// list to the standard tools (xargs -0 cat), so both sides read the same files in the same
// order, also where names are not zero-padded.
#include <cstdio>
#include <iostream>

#include "common/functions.h"
#include "common/path.h"
#include "common/utf8_locale.h"

namespace {

class StderrUi final : public quorvane::TaskUi {
 public:
  std::string Text(const std::string&) override { return {}; }
  std::vector<std::string> Items(const std::string&) override { return {}; }
  bool Checked(const std::string&) override { return false; }
  int Selected(const std::string&) override { return -1; }
  quorvane::Answer Message(const std::string& text, quorvane::Icon, quorvane::Buttons,
                           const std::string&) override {
    std::cerr << text << '\n';
    return quorvane::Answer::No;
  }
  void Focus(const std::string&) override {}
  void SetBusy(bool) override {}
  std::string Caption() override { return {}; }
  void SetCaption(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quorvane-natural-list FOLDER PATTERN\n";
    return 1;
  }
  quorvane::UseUtf8CharacterHandling();
  StderrUi ui;
  const std::string folder = quorvane::path::WithSeparator(argv[1]);
  const auto names = quorvane::GetFileList(quorvane::SystemFileSystem(), ui, folder + argv[2]);
  if (!names) return 2;
  for (std::string_view name : *names) {
    std::fwrite(folder.data(), 1, folder.size(), stdout);
    std::fwrite(name.data(), 1, name.size(), stdout);
    std::fputc('\0', stdout);
  }
  return 0;
}
