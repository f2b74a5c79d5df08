#include "app/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QMdiArea>
#include <QMessageBox>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QToolBar>
#include <algorithm>

#include "app/access_keys.h"
#include "app/frm_about.h"
#include "app/help_viewer.h"
#include "common/rename_journal.h"
#include "filetasks/frm_file_build.h"
#include "filetasks/frm_file_merge.h"
#include "filetasks/frm_file_rename.h"
#include "foldertasks/frm_folder_build.h"
#include "foldertasks/frm_folder_rename.h"
#include "foldertasks/frm_folder_merge.h"
#include "shell/controls.h"
#include "shell/install_layout.h"
#include "shell/run_host.h"
#include "shell/services.h"

namespace quorvane::gui {
namespace {

struct Tool {
  const char* name;
  const char* menu_caption;
  const char* toolbar_text;  // null: not on the toolbar
  QStyle::StandardPixmap icon;
};

constexpr Tool kFileTools[] = {
    {"miFileBuild", "批建立文件(&B)", "批建立文件", QStyle::SP_FileIcon},
    {"miFileRename", "批重命名文件(&R)", "批重命名文件", QStyle::SP_FileDialogDetailedView},
    {"miFileMerge", "批合并文件(&M)", "批合并文件", QStyle::SP_FileDialogContentsView},
    {"miFileUndo", "撤销上次重命名(&U)", nullptr, QStyle::SP_ArrowBack},
    {"miExit", "退出(&E)", "退出", QStyle::SP_DialogCloseButton},
};
constexpr Tool kFolderTools[] = {
    {"miFolderBuild", "批建立目录(&B)", "批建立目录", QStyle::SP_FileDialogNewFolder},
    {"miFolderRename", "批重命名目录(&R)", "批重命名目录", QStyle::SP_DirLinkIcon},
    {"miFolderMerge", "批合并目录(&M)", "批合并目录", QStyle::SP_DirOpenIcon},
    {"miFolderUndo", "撤销上次重命名(&U)", nullptr, QStyle::SP_ArrowBack},
};
constexpr Tool kHelpTools[] = {
    {"miHelp", "帮助文件(&H)", "帮助文件", QStyle::SP_DialogHelpButton},
    {"miAbout", "关于(&A)...", nullptr, QStyle::SP_MessageBoxInformation},
};

// The toolbar's order, with separators (null) between the groups.
constexpr const char* kToolbar[] = {"miFileBuild",   "miFileRename",   "miFileMerge", nullptr,
                                    "miFolderBuild", "miFolderRename", "miFolderMerge", nullptr,
                                    "miHelp",        nullptr,          "miExit"};

constexpr const char* kTaskTools[] = {"miFileBuild",   "miFileRename",   "miFileMerge",
                                      "miFolderBuild", "miFolderRename", "miFolderMerge"};

}  // namespace

frmMain::frmMain(QWidget* parent, FileSystem& fs)
    : QMainWindow(parent), fs_(fs), mdi_(new QMdiArea(this)), host_(new RunHost(this)),
      stop_key_(new QShortcut(Qt::Key_Escape, this)) {
  setObjectName("frmMain");
  setWindowTitle(QString::fromUtf8("Quorvane文件批处理系统"));
  // The installed icon where the desktop's icon theme has it; a build folder has none.
  setWindowIcon(QIcon::fromTheme(kDesktopId, style()->standardIcon(QStyle::SP_DirHomeIcon)));
  mdi_->setObjectName("mdi");
  setCentralWidget(mdi_);
  // A window of fixed size is never maximised by following a maximised one; when it comes to
  // the front, KeepWhole gives it its frame instead.
  mdi_->setOption(QMdiArea::DontMaximizeSubWindowOnActivation);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &frmMain::KeepWhole);
  new TaskAccessKeys(mdi_);
  stop_key_->setEnabled(false);
  connect(stop_key_, &QShortcut::activated, host_, &RunHost::AskStop);
  connect(host_, &RunHost::finished, stop_key_, [this] { stop_key_->setEnabled(false); });

  // Each task window that exists is made here; a command without one stands disabled.
  factories_["miFileBuild"] = [] { return new frmFileBuild(); };
  factories_["miFileRename"] = [] { return new frmFileRename(); };
  factories_["miFileMerge"] = [] { return new frmFileMerge(); };
  factories_["miFolderBuild"] = [] { return new frmFolderBuild(); };
  factories_["miFolderRename"] = [] { return new frmFolderRename(); };
  factories_["miFolderMerge"] = [] { return new frmFolderMerge(); };

  BuildTools();
  resize(Px(9045), Px(6690) + menuBar()->sizeHint().height() +
                       findChild<QToolBar*>("barTool")->sizeHint().height());
  if (const QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void frmMain::BuildTools() {
  menuBar()->setObjectName("mnuMain");
  auto* toolbar = addToolBar(QString::fromUtf8("Band5"));
  toolbar->setObjectName("barTool");
  toolbar->setIconSize(QSize(16, 16));
  toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  // Tight buttons so that all eight commands fit the window's opening width.
  toolbar->setStyleSheet("QToolButton { padding: 1px 0px; margin: 0px; }");

  const auto add_menu = [this](const char* name, const char* caption, const auto& tools) {
    auto* menu = menuBar()->addMenu(QString::fromUtf8(caption));
    menu->setObjectName(name);
    for (const Tool& tool : tools) {
      auto* action = new QAction(style()->standardIcon(tool.icon),
                                 QString::fromUtf8(tool.menu_caption), this);
      action->setObjectName(tool.name);
      action->setIconText(QString::fromUtf8(tool.toolbar_text ? tool.toolbar_text : tool.menu_caption));
      action->setToolTip(action->iconText());
      const bool is_task = std::find(std::begin(kTaskTools), std::end(kTaskTools),
                                     std::string_view(tool.name)) != std::end(kTaskTools);
      action->setEnabled(!is_task || factories_.count(tool.name) > 0);
      connect(action, &QAction::triggered, this, &frmMain::OnToolClick);
      menu->addAction(action);
    }
  };
  add_menu("mnuFile", "文件(&F)", kFileTools);
  add_menu("mnuFolder", "目录(&O)", kFolderTools);
  add_menu("mnuHelp", "帮助(&H)", kHelpTools);
  // F10 opens the first menu from anywhere in the window, task windows included.
  connect(new QShortcut(Qt::Key_F10, this), &QShortcut::activated, this,
          [this] { menuBar()->setActiveAction(menuBar()->actions().value(0)); });

  for (const char* name : kToolbar) {
    if (name)
      toolbar->addAction(findChild<QAction*>(name));
    else
      toolbar->addSeparator();
  }
}

void frmMain::OnToolClick() {
  if (const auto* action = qobject_cast<QAction*>(sender())) Dispatch(action->objectName());
}

void frmMain::Dispatch(const QString& tool) {
  for (const char* task : kTaskTools)
    if (tool == QLatin1String(task)) return OpenTask(tool);
  if (tool == QLatin1String("miHelp")) return OpenHelp();
  if (tool == QLatin1String("miAbout")) return ShowAbout();
  if (tool == QLatin1String("miExit")) return Exit();
  if (tool == QLatin1String("miFileUndo")) return UndoRename(false);
  if (tool == QLatin1String("miFolderUndo")) return UndoRename(true);
}

QMdiSubWindow* frmMain::TaskWindow(const QString& tool) const {
  const auto it = open_.find(tool);
  return it == open_.end() ? nullptr : it->second.data();
}

void frmMain::OpenTask(const QString& tool) {
  if (QMdiSubWindow* open = TaskWindow(tool)) {
    open->show();
    open->widget()->show();
    mdi_->setActiveSubWindow(open);
    KeepWhole(open);
    return;
  }
  const auto factory = factories_.find(tool);
  if (factory == factories_.end()) return;
  QWidget* form = factory->second();
  // A window of fixed size keeps it inside its frame too: no corner to drag it larger and
  // no minimise or maximise button. A sizable one gets both buttons and a sizable border.
  const bool sizable = form->minimumSize() != form->maximumSize();
  Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (sizable) flags |= Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
  auto* frame = mdi_->addSubWindow(form, flags);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  frame->setWindowIcon(windowIcon());
  open_[tool] = frame;
  // Its frame is measured around the window in its normal state, so nothing maximised may
  // stand in for it while it is measured.
  if (!sizable) RestoreMaximised(nullptr);
  frame->show();
  frame->adjustSize();
  if (!sizable) {
    frame->setFixedSize(frame->size());
    // Nothing maximises a fixed window: it goes straight back to its frame.
    connect(frame, &QMdiSubWindow::windowStateChanged, frame,
            [frame](Qt::WindowStates, Qt::WindowStates now) {
              if (now & Qt::WindowMaximized) frame->showNormal();
            }, Qt::QueuedConnection);
  }
  mdi_->setActiveSubWindow(frame);
  KeepWhole(frame);
  if (QWidget* field = InitialFocus(form)) field->setFocus(Qt::OtherFocusReason);
}

void frmMain::RestoreMaximised(const QMdiSubWindow* except) {
  for (QMdiSubWindow* window : mdi_->subWindowList())
    if (window != except && window->isMaximized()) window->showNormal();
}

// A fixed window that comes to the front while another is maximised would sit on a window
// that hides every other and whose buttons stand in the menu bar; the maximised one goes back
// to its own size, so all windows show in their frames. The fixed window itself is moved
// into the area where it would stick out of it.
void frmMain::KeepWhole(QMdiSubWindow* frame) {
  if (!frame || !frame->widget() ||
      frame->widget()->minimumSize() != frame->widget()->maximumSize())
    return;
  RestoreMaximised(frame);
  // A window given back its size takes the focus with it; the window asked for keeps it.
  if (mdi_->activeSubWindow() != frame) mdi_->setActiveSubWindow(frame);
  if (frame->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)) frame->showNormal();
  const QRect area = mdi_->viewport()->rect();
  QRect box = frame->geometry();
  box.moveRight(std::min(box.right(), area.right()));
  box.moveBottom(std::min(box.bottom(), area.bottom()));
  box.moveLeft(std::max(box.left(), area.left()));
  box.moveTop(std::max(box.top(), area.top()));
  if (box.topLeft() != frame->pos()) frame->move(box.topLeft());
}

void frmMain::ShowAbout() {
  if (services().showAbout) return services().showAbout(this);
  frmAbout about(this);
  about.exec();
}

// The page goes to the desktop's program for web pages; a machine without one gets the page
// in a window of our own, so the command always shows help.
void frmMain::OpenHelp() {
  const QString page = HelpPage();
  if (services().openPage(page) || !QFile::exists(page)) return;
  if (!help_) help_ = new frmHelp(this, page);
  help_->show();
  help_->raise();
  help_->activateWindow();
}

// The notice stays only while it is true: it closes as soon as a run speaks (its
// completion message, say) or the last run has ended.
bool frmMain::RefuseWhileRunning() {
  RunTracker& runs = RunTracker::instance();
  if (runs.active() == 0) return false;
  if (!busy_notice_) {
    busy_notice_ = MakeMessageBox(this, QString::fromUtf8("批处理正在进行，请等它完成后再退出。"),
                                  Icon::Warning, Buttons::Ok, QString::fromUtf8(kAppTitle))
                       .release();
    busy_notice_->setObjectName("msgRunGoesOn");
    busy_notice_->setAttribute(Qt::WA_DeleteOnClose);
    connect(&runs, &RunTracker::runSpeaks, busy_notice_, &QWidget::close);
    connect(&runs, &RunTracker::idle, busy_notice_, &QWidget::close);
  }
  busy_notice_->show();
  busy_notice_->raise();
  return true;
}

void frmMain::Exit() {
  if (RefuseWhileRunning()) return;
  if (ShowMessage(this, QString::fromUtf8("您是否确定退出本系统？"), Icon::Question,
                  Buttons::YesNo) == Answer::Yes)
    QCoreApplication::quit();
}

// A batch that runs in a task window is not undone under its feet, and no task starts while
// an undo goes on. A batch cut short (an undo stopped half way, say) comes first: the undo
// offers to finish or take it back, as the start does.
void frmMain::UndoRename(bool folders) {
  if (RunTracker::instance().active() > 0) {
    ShowMessage(this, QString::fromUtf8("批处理正在进行，请等它完成后再撤销重命名。"),
                Icon::Warning);
    return;
  }
  const BatchKind kind = folders ? BatchKind::Folders : BatchKind::Files;
  StartOwnRun(
      [&fs = fs_, kind](TaskUi& ui) {
        std::vector<BatchRecord> open;
        std::string err;
        if (InterruptedBatches(fs, &open, &err) && !open.empty())
          return RecoverInterrupted(fs, ui, std::nullopt, false);
        return UndoLastRename(fs, ui, {}, kind);
      },
      "正在撤销重命名，请等它完成后再开始批处理。");
}

void frmMain::StartOwnRun(std::function<RunOutcome(TaskUi&)> run, const char* notice) {
  host_->StartAlone(std::move(run), QString::fromUtf8(notice));
  stop_key_->setEnabled(host_->running());
}

void frmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (recovery_offered_) return;
  recovery_offered_ = true;
  // Asked once the window is on the screen, so the question has it as its owner.
  QTimer::singleShot(0, this, &frmMain::OfferRecovery);
}

void frmMain::OfferRecovery() {
  if (RunTracker::instance().active() > 0) return;
  StartOwnRun(
      [&fs = fs_](TaskUi& ui) { return RecoverInterrupted(fs, ui, std::nullopt, false); },
      "正在恢复中断的重命名，请等它完成后再开始批处理。");
}

// Closing the program during a run stops every run first; the window closes once the last
// one has ended (each reports how far it came). The window's own run is the user's in front
// of them, so it is asked about first, as a task window asks about its run.
void frmMain::closeEvent(QCloseEvent* event) {
  RunTracker& runs = RunTracker::instance();
  if (runs.active() == 0) return event->accept();
  event->ignore();
  if (host_->running() && !host_->AskStop()) return;
  for (RunHost* host : findChildren<RunHost*>()) host->RequestStop();
  if (runs.active() == 0) return event->accept();  // it ended while the question was up
  if (close_when_idle_) return;
  close_when_idle_ = true;
  connect(&runs, &RunTracker::idle, this, [this] {
    close_when_idle_ = false;
    close();
  }, Qt::SingleShotConnection);
}

}  // namespace quorvane::gui
