#include "shell/install_layout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorvane::gui {
namespace {

constexpr char kHelpPage[] = "help.htm";

QString BesideProgram(const QString& program_dir) { return program_dir + "/" + kHelpPage; }

}  // namespace

QStringList HelpPageCandidates(const QString& program_dir, const QStringList& data_dirs) {
  QStringList candidates{BesideProgram(program_dir),
                         QDir::cleanPath(program_dir + "/../share/quorvane/" + kHelpPage)};
  for (const QString& dir : data_dirs)
    candidates << QDir::cleanPath(dir + "/quorvane/" + kHelpPage);
  candidates.removeDuplicates();
  return candidates;
}

QString FindHelpPage(const QString& program_dir, const QStringList& data_dirs) {
  for (const QString& candidate : HelpPageCandidates(program_dir, data_dirs))
    if (QFileInfo(candidate).isFile()) return candidate;
  return {};
}

QString HelpPage() {
  const QString program_dir = QCoreApplication::applicationDirPath();
  const QString found = FindHelpPage(
      program_dir, QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
  return found.isEmpty() ? BesideProgram(program_dir) : found;
}

QString BrowseStartFolder(const QString& program_dir, const QString& home) {
  return QFileInfo(BesideProgram(program_dir)).isFile() ? program_dir : home;
}

}  // namespace quorvane::gui
