#pragma once

class QApplication;

namespace quorvane::gui {

/// The program's looks: Qt's own Chinese texts for standard buttons and dialogs, and the
/// 9-point Chinese font family list for every control.
void SetUpApplication(QApplication& app);

/// Converts twips (1440 to the inch) to logical pixels: 15 twips a pixel.
constexpr int Px(int twips) { return twips / 15; }

}  // namespace quorvane::gui
