#include "shell/numbering_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "shell/controls.h"
#include "shell/task_form.h"

namespace quorvane::gui {
namespace {

// The top of the first row of fields under the description, in twips, in every window that
// has one.
constexpr int kFirstRowTop = 840;

// The numbering frame, its title standing on its top border so that the fields 240 twips
// down sit inside the border under it.
QGroupBox* PlaceFrame(QWidget* form, int top, const char* title) {
  auto* fam = Place<QGroupBox>(form, "fam", 120, top, 5535, 690);
  fam->setTitle(QString::fromUtf8(title));
  fam->setStyleSheet(
      "QGroupBox#fam { margin-top: 7px; border: 1px solid palette(mid); border-radius: 2px; }"
      "QGroupBox#fam::title { subcontrol-origin: margin; left: 7px; padding: 0px 2px;"
      " background-color: palette(window); }");
  return fam;
}

// In the window's font the rule may take a line more than the designed height holds; the
// label then reaches down towards the first row of fields, which leaves room for it. A font
// with taller lines (Noto Sans CJK's are a third taller than WenQuanYi's) or a larger size
// would still cut it off there: the rows below then move down, and the window grows, by what
// it lacks.
void MakeRoomForDescription(QWidget* form) {
  auto* label = form->findChild<QLabel*>("labDescription", Qt::FindDirectChildrenOnly);
  if (!label) return;
  const int first_row = Px(kFirstRowTop);
  const int needed = label->heightForWidth(label->width());
  if (needed <= label->height()) return;
  const int room = first_row - label->y();
  label->resize(label->width(), needed);
  if (needed <= room) return;
  const int extra = needed - room;
  for (QWidget* child : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child != label && child->y() >= first_row) child->move(child->x(), child->y() + extra);
  }
  if (auto* task = qobject_cast<TaskForm*>(form)) task->Lengthen(extra);
}

}  // namespace

void BindNumberingCheckBoxes(QWidget* form, NumberingTask task) {
  for (const GovernedControls& box : NumberingCheckBoxes(task)) {
    auto* check = form->findChild<QCheckBox*>(QString::fromStdString(box.check_box));
    if (!check) continue;
    const auto apply = [form, box](bool ticked) {
      for (const auto& name : box.shown)
        if (auto* w = form->findChild<QWidget*>(QString::fromStdString(name))) w->setVisible(ticked);
      for (const auto& name : box.enabled)
        if (auto* w = form->findChild<QWidget*>(QString::fromStdString(name))) w->setEnabled(ticked);
      if (!ticked) return;
      if (auto* w = form->findChild<QWidget*>(QString::fromStdString(box.focus)))
        w->setFocus(Qt::OtherFocusReason);
    };
    for (const auto& name : box.shown)
      if (auto* w = form->findChild<QWidget*>(QString::fromStdString(name))) w->setVisible(false);
    for (const auto& name : box.enabled)
      if (auto* w = form->findChild<QWidget*>(QString::fromStdString(name))) w->setEnabled(false);
    QObject::connect(check, &QCheckBox::toggled, form, apply);
  }
}

void PlaceDescription(QWidget* form, const char* rule) {
  auto* label = Place<QLabel>(form, "labDescription", 120, 120, 5535, 615);
  label->setText(QString::fromUtf8("说明：\n    ") + QString::fromUtf8(rule));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
}

void PlaceCreateControls(QWidget* form, const char* noun, const char* frame_title,
                         int step_label_left, int step_label_width) {
  const QString kind = QString::fromUtf8(noun);
  PlaceLabel(form, "labPath", "", 120, 885, 1095, 255)->setText(kind + QString::fromUtf8("路径"));
  Place<QLineEdit>(form, "txtPath", 1200, 840, 3375, 300);
  PlaceButton(form, "cmdBrowse", "浏览(&B)", 4680, 840);
  Place<QCheckBox>(form, "chkMod", 120, 1200, 1095, 255)->setText(QString::fromUtf8("模板"));
  Place<QLineEdit>(form, "txtModPath", 1200, 1200, 3375, 300);
  PlaceButton(form, "cmdModBrowse", "浏览(&V)", 4680, 1200);
  Place<QCheckBox>(form, "chkPre", 120, 1560, 1095, 255)->setText(kind + QString::fromUtf8("前缀"));
  Place<QLineEdit>(form, "txtPre", 1200, 1560, 2415, 300);
  Place<QCheckBox>(form, "chkSuf", 3840, 1560, 1095, 255)->setText(kind + QString::fromUtf8("后缀"));
  Place<QLineEdit>(form, "txtSuf", 4920, 1560, 735, 300);
  auto* fam = PlaceFrame(form, 1920, frame_title);
  PlaceLabel(fam, "labFrom", "从", 240, 300, 255, 255);
  Place<QLineEdit>(fam, "txtFrom", 480, 240, 975, 300);
  PlaceLabel(fam, "labTo", "到", 1560, 300, 255, 255);
  Place<QLineEdit>(fam, "txtTo", 1800, 240, 975, 300);
  PlaceLabel(fam, "labStep", "递增量", step_label_left, 300, step_label_width, 255);
  Place<QLineEdit>(fam, "txtStep", 3840, 240, 495, 300)->setText("1");
  Place<QCheckBox>(fam, "chkAddZero", 4560, 240, 735, 255)->setText(QString::fromUtf8("补零"));
  PlaceButton(form, "cmdOK", "确定(&O)", 1800, 2760);
  PlaceButton(form, "cmdCancel", "退出(&Q)", 3000, 2760);
  MakeRoomForDescription(form);
  BindNumberingCheckBoxes(form, NumberingTask::Create);
}

void PlaceRenameControls(QWidget* form, const char* noun, const char* frame_title, int row_top) {
  const QString target = QString::fromUtf8("目标") + QString::fromUtf8(noun);
  Place<QCheckBox>(form, "chkPre", 120, row_top, 1455, 255)->setText(target + QString::fromUtf8("前缀"));
  Place<QLineEdit>(form, "txtPre", 1560, row_top, 1815, 300);
  Place<QCheckBox>(form, "chkSuf", 3480, row_top, 1455, 255)->setText(target + QString::fromUtf8("后缀"));
  Place<QLineEdit>(form, "txtSuf", 4920, row_top, 735, 300);
  auto* fam = PlaceFrame(form, row_top + 360, frame_title);
  PlaceLabel(fam, "labFrom", "从", 120, 300, 255, 255);
  Place<QLineEdit>(fam, "txtFrom", 360, 240, 975, 300);
  PlaceLabel(fam, "labTo", "开始", 1440, 300, 375, 255);
  PlaceLabel(fam, "labStep", "递增量", 1920, 300, 615, 255);
  Place<QLineEdit>(fam, "txtStep", 2520, 240, 495, 300)->setText("1");
  Place<QCheckBox>(fam, "chkAddZero", 3240, 260, 735, 255)->setText(QString::fromUtf8("补零"));
  PlaceLabel(fam, "labDigits", "位数", 4080, 300, 375, 255);
  Place<QLineEdit>(fam, "txtDigits", 4560, 240, 735, 300);
  PlaceButton(form, "cmdOK", "确定(&O)", 1800, row_top + 1200);
  PlaceButton(form, "cmdCancel", "退出(&Q)", 3000, row_top + 1200);
  MakeRoomForDescription(form);
  BindNumberingCheckBoxes(form, NumberingTask::Rename);
}

}  // namespace quorvane::gui
