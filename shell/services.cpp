#include "shell/services.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>

#include "shell/frm_browse.h"

namespace quorvane::gui {
namespace {

// A box whose owner lives inside another window (a task window in the main window) stands
// over the owner's centre, where Qt would centre it on the whole window; so each run's box
// shows which window it speaks for. It stays on the owner's screen.
class OwnedMessageBox final : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    const QWidget* owner = parentWidget();
    if (!owner || owner->isWindow()) return;
    QRect box = frameGeometry();
    box.moveCenter(owner->mapToGlobal(owner->rect().center()));
    if (const QScreen* screen = owner->screen()) {
      const QRect room = screen->availableGeometry();
      box.moveLeft(std::max(room.left(), std::min(box.left(), room.right() - box.width())));
      box.moveTop(std::max(room.top(), std::min(box.top(), room.bottom() - box.height())));
    }
    move(box.topLeft());
  }
};

Answer RealMessage(QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                   const QString& title) {
  auto box = MakeMessageBox(parent, text, icon, buttons, title);
  // The owner going while the box is up (the program torn down) takes the box with it.
  const QPointer<QMessageBox> alive = box.get();
  const int chosen = box->exec();
  if (!alive) {
    box.release();
    return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
  }
  if (buttons == Buttons::Ok) return Answer::Ok;
  return chosen == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

// The desktop's page opener is only asked when the machine has one, and its answer is
// awaited: xdg-open exits at once with a failure when nothing can show the page (no browser),
// and the caller then shows the page itself instead of a request that went nowhere. An opener
// still running after a moment has shown the page (a browser it runs itself) and is left be.
bool RealOpenPage(const QString& path) {
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  if (opener.isEmpty()) return false;
  auto* process = new QProcess;
  process->start(opener, {path});
  if (!process->waitForStarted(3000)) {
    delete process;
    return false;
  }
  if (!process->waitForFinished(2000)) {
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    return true;
  }
  const bool shown = process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
  delete process;
  return shown;
}

QString RealOpenFile(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent, QString(), QString(),
                                      QString::fromUtf8("所有文件 (*)"));
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
  s.pickOpenFile = RealOpenFile;
  s.pickSaveFile = RealSaveFile;
  s.openPage = RealOpenPage;
  s.startDetached = [](const QString& program) { return QProcess::startDetached(program, {}); };
  return s;
}

}  // namespace

Services& services() {
  static Services instance = Defaults();
  return instance;
}

void ResetServices() { services() = Defaults(); }

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text, Icon icon,
                                            Buttons buttons, const QString& title) {
  static constexpr QMessageBox::Icon kIcons[] = {QMessageBox::Information, QMessageBox::Warning,
                                                 QMessageBox::Question, QMessageBox::Critical};
  auto box = std::make_unique<OwnedMessageBox>(
      kIcons[static_cast<int>(icon)], title, text,
      buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
  // A short text makes a narrow box, and the window manager then cuts the title to "Q...".
  // A spacer across the box's grid gives it room for the whole title and the title bar's
  // buttons; the box still grows with a longer text.
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    const int title_width = box->fontMetrics().horizontalAdvance(title) + 160;
    grid->addItem(new QSpacerItem(title_width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  return box;
}

QWidget* BoxOwner(QWidget* form) {
  for (QWidget* w = form; w; w = w->parentWidget()) {
    if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) return frame;
    if (w->isWindow()) return w;
  }
  return nullptr;
}

Answer ShowMessage(QWidget* parent, const QString& text, Icon icon, Buttons buttons,
                   const QString& title) {
  return services().message(parent, text, icon, buttons, title);
}

}  // namespace quorvane::gui
