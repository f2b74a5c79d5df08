#include "shell/services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "shell/frm_about.h"
#include "shell/frm_browse.h"

namespace quorvane::gui {
namespace {

Answer RealMessage(QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                   const QString& title) {
  static constexpr QMessageBox::Icon kIcons[] = {QMessageBox::Information, QMessageBox::Warning,
                                                 QMessageBox::Question, QMessageBox::Critical};
  QMessageBox box(kIcons[static_cast<int>(icon)], title, text,
                  buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                            : QMessageBox::Ok,
                  parent);
  const int chosen = box.exec();
  if (buttons == Buttons::Ok) return Answer::Ok;
  return chosen == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString RealSaveFile(QWidget* parent) {
  // The dialog asks before an existing file is chosen, as a save dialog should.
  return QFileDialog::getSaveFileName(parent, QString(), QString(),
                                      QString::fromUtf8("所有文件 (*)"));
}

Services Defaults() {
  Services s;
  s.message = RealMessage;
  s.pickFolder = BrowseForFolder;
  s.pickSaveFile = RealSaveFile;
  s.openPage = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };
  s.showAbout = [](QWidget* parent) {
    frmAbout about(parent);
    about.exec();
  };
  s.startDetached = [](const QString& program) { return QProcess::startDetached(program, {}); };
  return s;
}

}  // namespace

Services& services() {
  static Services instance = Defaults();
  return instance;
}

void ResetServices() { services() = Defaults(); }

Answer ShowMessage(QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                   const QString& title) {
  return services().message(parent, text, icon, buttons, title);
}

}  // namespace quorvane::gui
