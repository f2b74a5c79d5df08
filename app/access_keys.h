#pragma once

#include <QObject>

class QMdiArea;
class QWidget;

namespace quorvane::gui {

/// Gives the access keys of the active task window priority over the main window's menus.
/// The task windows live inside the main window, so Alt+O would name both the menu
/// 目录(&O) and a window's 确定(&O); while the focus is inside a task window, its own
/// control takes the key. With the focus elsewhere the menus keep their keys, and while a
/// modal dialog is up its own keys act and nothing behind it sees one.
class TaskAccessKeys final : public QObject {
  Q_OBJECT
 public:
  explicit TaskAccessKeys(QMdiArea* mdi);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* ActiveForm() const;

  QMdiArea* mdi_;
};

}  // namespace quorvane::gui
