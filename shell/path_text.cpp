#include "shell/path_text.h"

#include <QByteArray>
#include <QLineEdit>
#include <QVariant>

namespace quorvane::gui {
namespace {
constexpr const char* kRawBytes = "quorvaneRawPath";
constexpr const char* kShownText = "quorvaneShownPath";
}  // namespace

QString DisplayPath(const std::string& raw) {
  return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

void SetPathText(QLineEdit* box, const std::string& raw) {
  const QString shown = DisplayPath(raw);
  box->setText(shown);
  box->setProperty(kRawBytes, QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
  box->setProperty(kShownText, shown);
}

std::string PathText(const QLineEdit* box) {
  const QString text = box->text();
  const QVariant shown = box->property(kShownText);
  if (shown.isValid() && shown.toString() == text)
    return box->property(kRawBytes).toByteArray().toStdString();
  return text.toStdString();
}

}  // namespace quorvane::gui
