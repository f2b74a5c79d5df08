#pragma once

#include <QString>
#include <string>

class QLineEdit;
class QListWidget;
class QListWidgetItem;

/// Paths in text boxes and lists. A path is a byte string; a box shows text. A path that a picker hands
/// back may hold bytes that are not UTF-8 (an old GBK archive): the box shows them as
/// replacement characters and keeps the bytes, so the run still receives the real path.
namespace quorvane::gui {

/// `raw` as the user sees it; bytes that are not UTF-8 show as replacement characters.
QString DisplayPath(const std::string& raw);

/// Shows `raw` in `box` and keeps its bytes for PathText.
void SetPathText(QLineEdit* box, const std::string& raw);

/// The box's text as a byte string: the kept bytes while the text shown is the one
/// SetPathText put there, otherwise what the user typed, in UTF-8.
std::string PathText(const QLineEdit* box);

/// Appends `raw` to `list` as an entry that shows it and keeps its bytes.
QListWidgetItem* AddPathItem(QListWidget* list, const std::string& raw);

/// The bytes an entry keeps, or its text in UTF-8 when it keeps none.
std::string ItemPath(const QListWidgetItem* item);

}  // namespace quorvane::gui
