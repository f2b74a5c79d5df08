#pragma once

class QApplication;

namespace quorvane::gui {

/// The program's looks: Qt's own Chinese texts for standard buttons and dialogs, and the
/// 9-point Chinese font family list for every control.
void SetUpApplication(QApplication& app);

}  // namespace quorvane::gui
