#pragma once

#include <QWidget>

#include "common/numbering.h"

class QGroupBox;

/// What the four numbering windows share: their governed check boxes and their numbering
/// frame.
namespace quorvane::gui {

/// Wires the check boxes of a `task` window to the controls they govern: ticking shows and
/// enables them and moves the focus into the box's field; unticking hides and disables them,
/// keeping their text. The governed controls start hidden and disabled.
void BindNumberingCheckBoxes(QWidget* form, NumberingTask task);

/// The description label "说明：" with `rule` on the line below it, wrapped in the window's
/// font.
void PlaceDescription(QWidget* form, const char* rule);

}  // namespace quorvane::gui

namespace quorvane::gui {

/// The controls of a create window (files or folders), named and placed as both windows
/// draw them: the path and template rows, prefix and suffix, the numbering frame `fam`
/// (titled `frame_title`, with 从, 到, 递增量 "1" and 补零) and 确定 and 退出. `noun` is
/// "文件" or "目录"; `step_label` the left and width of 递增量's label, in twips.
void PlaceCreateControls(QWidget* form, const char* noun, const char* frame_title,
                         int step_label_left, int step_label_width);

}  // namespace quorvane::gui

namespace quorvane::gui {

/// The controls that the two rename windows share, from the prefix and suffix row at
/// `row_top` twips down: 目标…前缀 and 目标…后缀 (`noun` is "文件" or "目录"), the numbering
/// frame `fam` 360 twips below (titled `frame_title`, with 从 … 开始, 递增量 "1", 补零 and
/// 位数), and 确定 and 退出 1200 twips below the row.
void PlaceRenameControls(QWidget* form, const char* noun, const char* frame_title, int row_top);

}  // namespace quorvane::gui
