#include "app/help_viewer.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace quorvane::gui {

frmHelp::frmHelp(QWidget* parent, const QString& page) : QDialog(parent) {
  setObjectName("frmHelp");
  setWindowTitle(QString::fromUtf8("帮助"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* browser = new QTextBrowser(this);
  browser->setObjectName("txtHelp");
  browser->setOpenExternalLinks(true);
  browser->setSource(QUrl::fromLocalFile(page));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser);
  resize(720, 540);
}

}  // namespace quorvane::gui
