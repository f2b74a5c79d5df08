#include "shell/folder_drop.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "common/path.h"
#include "shell/path_text.h"

namespace quorvane::gui {
namespace {

// The path a local address names, as bytes; empty for any other address.
std::string LocalPath(const QUrl& url) {
  if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == "localhost")) return {};
  const QByteArray spelled = url.path(QUrl::FullyEncoded).toLatin1();
  const std::string path = QByteArray::fromPercentEncoding(spelled).toStdString();
  return path.starts_with('/') ? path::Folded(path) : std::string();
}

// A drop is taken as a copy: a file manager that is told of a move removes what was dragged.
bool ChooseCopy(QDropEvent* event) {
  for (Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
    if (event->possibleActions() & action) {
      event->setDropAction(action);
      return true;
    }
  }
  return false;
}

class FolderDropFilter final : public QObject {
 public:
  FolderDropFilter(QObject* parent, FileSystem& fs,
                   std::function<void(const std::vector<std::string>&)> take)
      : QObject(parent), fs_(fs), take_(std::move(take)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
      return QObject::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    if (!drop->mimeData() || !drop->mimeData()->hasUrls())
      return QObject::eventFilter(watched, event);
    // The paths are looked at as the drag enters and again when it is dropped, not at each
    // move of the mouse.
    if (type != QEvent::DragMove) folders_ = DroppedFolders(drop->mimeData(), fs_);
    if (folders_.empty() || !ChooseCopy(drop)) {
      drop->ignore();
      return true;
    }
    drop->accept();
    if (type == QEvent::Drop) take_(folders_);
    return true;
  }

 private:
  FileSystem& fs_;
  std::function<void(const std::vector<std::string>&)> take_;
  std::vector<std::string> folders_;
};

}  // namespace

std::vector<std::string> DroppedFolders(const QMimeData* data, FileSystem& fs) {
  std::vector<std::string> folders;
  for (const QUrl& url : data->urls()) {
    std::string path = LocalPath(url);
    if (path.empty()) continue;
    const PathKind kind = fs.Kind(path);
    if (kind == PathKind::File)
      path = path::Folded(path + "/..");
    else if (kind != PathKind::Folder)
      continue;
    if (std::find(folders.begin(), folders.end(), path) == folders.end())
      folders.push_back(std::move(path));
  }
  return folders;
}

void AcceptFolderDrops(QWidget* target, FileSystem& fs,
                       std::function<void(const std::vector<std::string>&)> take) {
  // A list's drags arrive at the area that shows its rows.
  auto* area = qobject_cast<QAbstractScrollArea*>(target);
  QWidget* receiver = area ? area->viewport() : target;
  receiver->setAcceptDrops(true);
  receiver->installEventFilter(new FolderDropFilter(target, fs, std::move(take)));
}

void AcceptFolderDrop(QLineEdit* box, FileSystem& fs) {
  AcceptFolderDrops(box, fs, [box](const std::vector<std::string>& folders) {
    SetPathText(box, folders.front());
  });
}

}  // namespace quorvane::gui
