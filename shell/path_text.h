#pragma once

#include <QString>
#include <string>

class QLineEdit;

/// Paths in text boxes. A path is a byte string; a box shows text. A path that a picker hands
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

}  // namespace quorvane::gui
