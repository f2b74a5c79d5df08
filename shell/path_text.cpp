#include "shell/path_text.h"

#include <QByteArray>
#include <QLineEdit>
#include <QListWidget>
#include <QVariant>

namespace quorvane::gui {
namespace {
constexpr const char* kRawBytes = "quorvaneRawPath";
constexpr const char* kShownText = "quorvaneShownPath";
constexpr int kRawPathRole = Qt::UserRole;
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

QListWidgetItem* AddPathItem(QListWidget* list, const std::string& raw) {
  auto* item = new QListWidgetItem(DisplayPath(raw), list);
  item->setData(kRawPathRole, QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
  return item;
}

std::string ItemPath(const QListWidgetItem* item) {
  const QVariant raw = item->data(kRawPathRole);
  return raw.isValid() ? raw.toByteArray().toStdString() : item->text().toStdString();
}

}  // namespace quorvane::gui
