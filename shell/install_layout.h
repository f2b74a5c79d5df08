#pragma once

#include <QString>
#include <QStringList>

namespace quorvane::gui {

/// The name the desktop entry, the icon and the AppStream metadata are installed under.
inline constexpr const char* kDesktopId = "io.github.quorvane.Quorvane";

/// Where the help page may lie for a program in `program_dir`, most likely first: beside the
/// program (its build folder, or a copy unpacked as one folder), the share folder of the
/// prefix it is installed under, then "quorvane/help.htm" in each of `data_dirs`.
QStringList HelpPageCandidates(const QString& program_dir, const QStringList& data_dirs);

/// The first of HelpPageCandidates that is a file; empty when none is.
QString FindHelpPage(const QString& program_dir, const QStringList& data_dirs);

/// The running program's help page, the desktop's data folders searched last; when there is
/// none, the place beside the program, so whatever opens it says it is missing.
QString HelpPage();

/// The folder the folder picker opens at. A program that lies where it was built (its help
/// page beside it) lies among the user's own folders and opens there; an installed one shares
/// its folder with the system's programs and opens at `home` instead.
QString BrowseStartFolder(const QString& program_dir, const QString& home);

}  // namespace quorvane::gui
