#include "common/run_frame.h"

#include <atomic>
#include <cmath>

namespace quorvane {

long ProgressPercent(long long done, long long total) {
  const float fraction = total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 1.0f;
  return std::lround(fraction * 100.0f);
}

std::string ProgressCaption(const std::string& text, long long done, long long total) {
  return text + std::to_string(ProgressPercent(done, total)) + "%";
}

namespace {
thread_local TaskUi* current_ui = nullptr;
thread_local unsigned long current_number = 0;
std::atomic<unsigned long> next_number{1};
}  // namespace

bool StopAskedOnThisThread() { return current_ui && current_ui->StopRequested(); }

unsigned long RunNumberOnThisThread() { return current_number; }

RunFrame::RunFrame(TaskUi& ui) : ui_(ui), outer_(current_ui), outer_number_(current_number) {
  current_ui = &ui;
  current_number = next_number++;
}

RunFrame::~RunFrame() {
  current_ui = outer_;
  current_number = outer_number_;
  if (busy_) ui_.SetBusy(false);
  RestoreCaption();
}

RunOutcome RunFrame::Stopped(long long done, long long total) {
  ui_.SetBusy(false);
  busy_ = false;
  RestoreCaption();
  ui_.Message("操作已停止：已完成 " + std::to_string(done) + " 个，共 " + std::to_string(total) +
                  " 个。",
              Icon::Information, Buttons::Ok, kAppTitle);
  return RunOutcome::Stopped;
}

RunOutcome RunFrame::Refuse(const std::string& message, const std::string& focus_field,
                           Icon icon) {
  ui_.Message(message, icon, Buttons::Ok, kAppTitle);
  if (!focus_field.empty()) ui_.Focus(focus_field);
  return RunOutcome::Refused;
}

bool RunFrame::Ask(const std::string& question) {
  const bool was_busy = busy_;
  if (was_busy) ui_.SetBusy(busy_ = false);
  const bool yes = ui_.Message(question, Icon::Question, Buttons::YesNo, kAppTitle) == Answer::Yes;
  if (was_busy && yes) ui_.SetBusy(busy_ = true);
  return yes;
}

void RunFrame::Begin() {
  ui_.SetBusy(true);
  busy_ = true;
  saved_caption_ = ui_.Caption();
}

void RunFrame::Progress(const std::string& text, long long done, long long total) {
  Progress(ProgressCaption(text, done, total));
}

void RunFrame::Progress(const std::string& caption) {
  ui_.SetCaption(caption);
  caption_changed_ = true;
}

RunOutcome RunFrame::Stop(const std::string& message, const std::string& focus_field) {
  ui_.SetBusy(false);
  busy_ = false;
  RestoreCaption();
  return Refuse(message, focus_field);
}

RunOutcome RunFrame::Complete() {
  Report("操作完成！");
  return RunOutcome::Completed;
}

void RunFrame::Report(const std::string& message) {
  ui_.SetBusy(false);
  busy_ = false;
  ui_.Message(message, Icon::Information, Buttons::Ok, kAppTitle);
  RestoreCaption();
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
