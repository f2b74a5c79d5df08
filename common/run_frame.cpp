#include "common/run_frame.h"

#include <cmath>

namespace quorvane {

std::string ProgressCaption(const std::string& text, long long done, long long total) {
  const float fraction = total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 1.0f;
  return text + std::to_string(std::lround(fraction * 100.0f)) + "%";
}

RunFrame::~RunFrame() {
  if (busy_) ui_.SetBusy(false);
  RestoreCaption();
}

RunOutcome RunFrame::Refuse(const std::string& message, const std::string& focus_field) {
  ui_.Message(message, Icon::Warning, Buttons::Ok, kAppTitle);
  if (!focus_field.empty()) ui_.Focus(focus_field);
  return RunOutcome::Refused;
}

bool RunFrame::Ask(const std::string& question) {
  return ui_.Message(question, Icon::Question, Buttons::YesNo, kAppTitle) == Answer::Yes;
}

void RunFrame::Begin() {
  ui_.SetBusy(true);
  busy_ = true;
  saved_caption_ = ui_.Caption();
}

void RunFrame::Progress(const std::string& text, long long done, long long total) {
  ui_.SetCaption(ProgressCaption(text, done, total));
  caption_changed_ = true;
}

RunOutcome RunFrame::Stop(const std::string& message) {
  ui_.SetBusy(false);
  busy_ = false;
  RestoreCaption();
  ui_.Message(message, Icon::Warning, Buttons::Ok, kAppTitle);
  return RunOutcome::Refused;
}

RunOutcome RunFrame::Complete() {
  ui_.SetBusy(false);
  busy_ = false;
  ui_.Message("操作完成！", Icon::Information, Buttons::Ok, kAppTitle);
  RestoreCaption();
  return RunOutcome::Completed;
}

RunOutcome RunFrame::Fail(const std::string& description) {
  ui_.SetBusy(false);
  busy_ = false;
  RestoreCaption();
  ui_.Message("系统错误：" + description, Icon::Error, Buttons::Ok, kAppTitle);
  return RunOutcome::Failed;
}

void RunFrame::RestoreCaption() {
  if (!caption_changed_) return;
  caption_changed_ = false;
  ui_.SetCaption(saved_caption_);
}

}  // namespace quorvane
