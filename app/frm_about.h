#pragma once

#include <QDialog>

namespace quorvane::gui {

/// The About box: product, version, release month and legal notice; the contact text
/// comes into sight with "联系信息(&C)"; "系统信息(&S)" starts a system-information program.
class frmAbout final : public QDialog {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* parent);

 private:
  void OnContact();
  void OnSysInfo();
};

}  // namespace quorvane::gui
