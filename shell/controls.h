#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <initializer_list>


/// Controls placed as the windows are drawn: by object name, at positions in twips.
namespace quorvane::gui {

/// Converts twips (1440 to the inch) to logical pixels: 15 twips a pixel.
constexpr int Px(int twips) { return twips / 15; }

/// A fixed dialog border: a title bar with only the close button.
inline constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                                     Qt::WindowTitleHint |
                                                     Qt::WindowCloseButtonHint;

/// Names the field that takes the focus when `form` opens.
inline void SetInitialFocus(QWidget* form, const char* field) {
  form->setProperty("initialFocus", QString::fromUtf8(field));
}

/// The field named by SetInitialFocus, or null.
inline QWidget* InitialFocus(QWidget* form) {
  return form->findChild<QWidget*>(form->property("initialFocus").toString());
}

/// The keyboard order of `form`'s controls: the named ones, in the order given.
inline void SetTabOrder(QWidget* form, std::initializer_list<const char*> names) {
  QWidget* previous = nullptr;
  for (const char* name : names) {
    QWidget* control = form->findChild<QWidget*>(name);
    if (previous && control) QWidget::setTabOrder(previous, control);
    if (control) previous = control;
  }
}

/// A new control of `form` named `name`, at left, top, width and height in twips.
template <typename Control>
Control* Place(QWidget* form, const char* name, int left, int top, int width, int height) {
  auto* control = new Control(form);
  control->setObjectName(name);
  control->setGeometry(Px(left), Px(top), Px(width), Px(height));
  return control;
}

inline QLabel* PlaceLabel(QWidget* form, const char* name, const char* text, int left, int top,
                          int width, int height) {
  auto* label = Place<QLabel>(form, name, left, top, width, height);
  label->setText(QString::fromUtf8(text));
  return label;
}

/// A push button that does not react to Enter by itself; only its access key and a click.
inline QPushButton* PlaceButton(QWidget* form, const char* name, const char* text, int left,
                                int top, int width = 1000, int height = 300) {
  auto* button = Place<QPushButton>(form, name, left, top, width, height);
  button->setText(QString::fromUtf8(text));
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

}  // namespace quorvane::gui
