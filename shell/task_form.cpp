#include "shell/task_form.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <utility>

#include "shell/controls.h"
#include "shell/folder_drop.h"
#include "shell/path_text.h"
#include "shell/services.h"

namespace quorvane::gui {

TaskForm::TaskForm(QWidget* parent, FileSystem& fs, const char* name, const char* caption,
                   int width, int height, Run run, const char* focus)
    : QWidget(parent), fs_(fs), host_(new RunHost(this)), run_(run),
      designed_(Px(width), Px(height)) {
  setObjectName(name);
  setWindowTitle(QString::fromUtf8(caption));
  setFixedSize(designed_);
  SetInitialFocus(this, focus);
  connect(host_, &RunHost::finished, this, [this] {
    if (std::exchange(close_after_run_, false)) CloseWindow();
  });
}

void TaskForm::MakeSizable() {
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void TaskForm::Lengthen(int extra) {
  designed_.rheight() += extra;
  setFixedSize(designed_);
}

void TaskForm::ConnectRunButtons() {
  connect(findChild<QPushButton*>("cmdOK"), &QPushButton::clicked, this, [this] {
    host_->Start([&fs = fs_, run = run_](TaskUi& ui) { return run(fs, ui); });
  });
  connect(findChild<QPushButton*>("cmdCancel"), &QPushButton::clicked, this,
          &TaskForm::CloseWindow);
}

void TaskForm::CloseWindow() {
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
    frame->close();
  else
    close();
}

void TaskForm::BrowseFolderOn(const char* button, const char* box) {
  connect(findChild<QPushButton*>(button), &QPushButton::clicked, this, [this, box] {
    const std::string folder = services().pickFolder(this);
    if (!folder.empty()) SetPathText(findChild<QLineEdit*>(box), folder);
  });
  AcceptFolderDrop(findChild<QLineEdit*>(box), fs_);
}

void TaskForm::closeEvent(QCloseEvent* event) {
  if (!host_->running()) return event->accept();
  event->ignore();
  if (!host_->AskStop()) return;
  if (host_->running())
    close_after_run_ = true;
  else
    CloseWindow();  // the run ended while the question was up
}

void TaskForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      host_->running()) {
    host_->AskStop();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quorvane::gui
