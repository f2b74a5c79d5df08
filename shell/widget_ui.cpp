#include "shell/widget_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "shell/path_text.h"
#include "shell/run_host.h"
#include "shell/services.h"

namespace quorvane::gui {

std::string WidgetUi::Text(const std::string& field) {
  return OnUiThread([&] {
    const auto* box = form_->findChild<QLineEdit*>(QString::fromStdString(field));
    return box ? PathText(box) : std::string();
  });
}

std::vector<std::string> WidgetUi::Items(const std::string& field) {
  return OnUiThread([&] {
    std::vector<std::string> items;
    if (const auto* list = form_->findChild<QListWidget*>(QString::fromStdString(field)))
      for (int i = 0; i < list->count(); ++i) items.push_back(ItemPath(list->item(i)));
    return items;
  });
}

bool WidgetUi::Checked(const std::string& field) {
  return OnUiThread([&] {
    const auto* box = form_->findChild<QCheckBox*>(QString::fromStdString(field));
    return box && box->isChecked();
  });
}

int WidgetUi::Selected(const std::string& field) {
  return OnUiThread([&] {
    const auto* list = form_->findChild<QComboBox*>(QString::fromStdString(field));
    return list ? list->currentIndex() : -1;
  });
}

Answer WidgetUi::Message(const std::string& text, Icon icon, Buttons buttons,
                         const std::string& title) {
  // The box belongs to the task window's frame, over which it stands: the window's controls
  // are disabled while its run goes on, and a box must never inherit that.
  return OnUiThread([&] {
    emit RunTracker::instance().runSpeaks();
    return ShowMessage(BoxOwner(form_), QString::fromStdString(text), icon, buttons,
                       QString::fromStdString(title));
  });
}

void WidgetUi::Focus(const std::string& field) {
  if (defer_focus_) {
    pending_focus_ = field;
    return;
  }
  OnUiThread([&] {
    if (auto* control = form_->findChild<QWidget*>(QString::fromStdString(field)))
      control->setFocus(Qt::OtherFocusReason);
  });
}

bool WidgetUi::ApplyPendingFocus() {
  defer_focus_ = false;
  if (pending_focus_.empty()) return false;
  const std::string field = std::exchange(pending_focus_, std::string());
  Focus(field);
  return true;
}

void WidgetUi::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  PostToUiThread([busy] {
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  });
}

std::string WidgetUi::Caption() {
  return OnUiThread([&] { return form_->windowTitle().toStdString(); });
}

void WidgetUi::SetCaption(const std::string& caption) {
  // Thousands of sources give at most a hundred distinct percentages: only changes travel.
  if (caption == last_caption_) return;
  last_caption_ = caption;
  {
    const std::lock_guard lock(pending_caption_->mutex);
    pending_caption_->caption = caption;
    if (pending_caption_->posted) return;
    pending_caption_->posted = true;
  }
  PostToUiThread([form = form_, pending = pending_caption_] {
    std::string newest;
    {
      const std::lock_guard lock(pending->mutex);
      newest.swap(pending->caption);
      pending->posted = false;
    }
    if (form) form->setWindowTitle(QString::fromStdString(newest));
  });
}

}  // namespace quorvane::gui
