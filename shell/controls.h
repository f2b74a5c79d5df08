#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "shell/application.h"

/// Controls placed as the windows are drawn: by object name, at positions in twips.
namespace quorvane::gui {

/// A fixed dialog border: a title bar with only the close button.
inline constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                                     Qt::WindowTitleHint |
                                                     Qt::WindowCloseButtonHint;

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
