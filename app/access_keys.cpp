#include "app/access_keys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace quorvane::gui {
namespace {

bool Usable(const QWidget* control) { return control->isVisible() && control->isEnabled(); }

// The control of `form` whose caption marks `key` with "&": a button is pressed, a label
// hands the focus to its buddy. Null when the window has no such key.
QWidget* ControlFor(QWidget* form, const QKeySequence& key) {
  for (auto* button : form->findChildren<QAbstractButton*>())
    if (Usable(button) && QKeySequence::mnemonic(button->text()) == key) return button;
  for (auto* label : form->findChildren<QLabel*>())
    if (label->buddy() && Usable(label->buddy()) && QKeySequence::mnemonic(label->text()) == key)
      return label->buddy();
  return nullptr;
}

}  // namespace

TaskAccessKeys::TaskAccessKeys(QMdiArea* mdi) : QObject(mdi), mdi_(mdi) {
  qApp->installEventFilter(this);
}

// The walk stops at the first window it meets: a dialog a task window opened has that window
// as its parent, yet its keys are its own.
QWidget* TaskAccessKeys::ActiveForm() const {
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
    if (auto* frame = qobject_cast<QMdiSubWindow*>(w))
      return frame->mdiArea() == mdi_ ? frame->widget() : nullptr;
    if (w->isWindow()) return nullptr;
  }
  return nullptr;
}

bool TaskAccessKeys::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::AltModifier) return false;
  // A modal dialog (the picker, a file dialog, a message box) takes every access key while it
  // is up. Qt would also match the buttons of the task window that opened it (the dialog's
  // parent), which makes the dialog's own key ambiguous or hands a key it lacks to the window
  // behind; so the dialog's key is pressed here and any other goes no further than the dialog.
  QWidget* modal = QApplication::activeModalWidget();
  QWidget* form = modal ? modal : ActiveForm();
  if (!form) return false;
  QWidget* control = ControlFor(form, QKeySequence(key->key() | Qt::AltModifier));
  if (modal && type == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  if (!control) return false;
  // Taking the override keeps the menu bar's shortcut from firing; the key press that
  // follows then acts on the window's own control.
  if (type == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  control->setFocus(Qt::ShortcutFocusReason);
  if (auto* button = qobject_cast<QAbstractButton*>(control)) button->click();
  Q_UNUSED(watched);
  return true;
}

}  // namespace quorvane::gui
