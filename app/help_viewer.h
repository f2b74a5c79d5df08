#pragma once

#include <QDialog>

namespace quorvane::gui {

/// Shows the help page in a window of the program's own, for a machine whose desktop has no
/// program to hand the page to.
class frmHelp final : public QDialog {
  Q_OBJECT
 public:
  frmHelp(QWidget* parent, const QString& page);
};

}  // namespace quorvane::gui
