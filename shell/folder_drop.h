#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/filesystem.h"

class QLineEdit;
class QMimeData;
class QWidget;

/// Folders dragged from a file manager onto the windows' folder fields.
namespace quorvane::gui {

/// The folders a drag names, in its order and each once: a local folder as it is, a local
/// file as the folder that holds it. Addresses on other machines or of other kinds, and paths
/// that are not there, are left out. A path keeps the bytes its address spells, so a name
/// that is not UTF-8 stays the real name.
std::vector<std::string> DroppedFolders(const QMimeData* data, FileSystem& fs);

/// Lets `target` take folders dragged onto it: each drop hands `take` its DroppedFolders,
/// never empty; a drag of addresses that names no folder is refused. A drag of plain text
/// still reaches the control as before.
void AcceptFolderDrops(QWidget* target, FileSystem& fs,
                       std::function<void(const std::vector<std::string>&)> take);

/// Lets the path box `box` take a dragged folder: the first folder of a drop becomes its text.
void AcceptFolderDrop(QLineEdit* box, FileSystem& fs);

}  // namespace quorvane::gui
