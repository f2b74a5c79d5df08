// Where the program finds its help page and where its folder picker opens, for a program in
// its build folder, installed under a prefix, or copied alone.
#include <gtest/gtest.h>

#include <QString>
#include <string>
#include <vector>

#include "shell/install_layout.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using testing::TempDir;

TEST(InstallLayoutTest, HelpIsSoughtBesideTheProgramThenUnderItsPrefixThenInTheDataFolders) {
  EXPECT_EQ(HelpPageCandidates("/usr/bin", {"/home/u/.local/share", "/usr/share/"})
                .join(' ')
                .toStdString(),
            "/usr/bin/help.htm /usr/share/quorvane/help.htm "
            "/home/u/.local/share/quorvane/help.htm");
}

TEST(InstallLayoutTest, FindsTheHelpPageAndChoosesThePickersFolderForEachLayout) {
  struct Row {
    const char* layout;
    std::vector<std::string> files;  // a name ending in "/" is a folder
    std::string program;
    std::vector<std::string> data;
    std::string help;  // empty: none found
    bool opens_program_folder;
  };
  const Row rows[] = {
      {"build folder", {"build/help.htm"}, "build", {"usr/share"}, "build/help.htm", true},
      {"installed", {"usr/share/quorvane/help.htm"}, "usr/bin", {}, "usr/share/quorvane/help.htm",
       false},
      {"installed, an older page in the user's data folder",
       {"usr/share/quorvane/help.htm", "home/.local/share/quorvane/help.htm"},
       "usr/bin", {"home/.local/share"}, "usr/share/quorvane/help.htm", false},
      {"unpacked with its share folder", {"opt/q/bin/help.htm", "opt/q/share/quorvane/help.htm"},
       "opt/q/bin", {}, "opt/q/bin/help.htm", true},
      {"program copied alone", {"local/quorvane/help.htm", "system/quorvane/help.htm"},
       "usr/local/bin", {"gone", "local", "system"}, "local/quorvane/help.htm", false},
      {"no page anywhere", {"usr/bin/"}, "usr/bin", {"usr/share"}, "", false},
      {"a folder named like the page", {"build/help.htm/"}, "build", {}, "", false},
  };
  for (const Row& row : rows) {
    TempDir temp;
    for (const std::string& file : row.files) {
      if (file.back() == '/') temp.MakeFolder(file);
      else temp.Write(file, "<html></html>");
    }
    const auto at = [&](const std::string& relative) {
      return QString::fromStdString(temp / relative);
    };
    const auto relative = [&](const QString& path) {
      const std::string text = path.toStdString();
      const std::string root = temp.path() + "/";
      return text.starts_with(root) ? text.substr(root.size()) : text;
    };
    QStringList data;
    for (const std::string& dir : row.data) data << at(dir);
    EXPECT_EQ(relative(FindHelpPage(at(row.program), data)), row.help) << row.layout;
    EXPECT_EQ(relative(BrowseStartFolder(at(row.program), at("home"))),
              row.opens_program_folder ? row.program : "home")
        << row.layout;
  }
}

}  // namespace
}  // namespace quorvane::gui
