#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/names.h"
#include "common/task_ui.h"

namespace quorvane::testing {

/// What a run did to its window, one entry a step, as text that reads well in a failure:
/// "Warning: 请输入…", "Question?: …" (Yes and No), "Error [系统错误]: …" (a title of its
/// own), "focus txtPath", "busy", "idle", "caption 正在合并文件...33%".
using Events = std::vector<std::string>;

std::string Msg(const std::string& text, Icon icon, Buttons buttons = Buttons::Ok,
                const std::string& title = kAppTitle);
/// The general error report, "系统错误：" + `text`.
inline std::string SystemError(const std::string& text) {
  return Msg("系统错误：" + text, Icon::Error);
}
inline std::string FocusOn(const std::string& field) { return "focus " + field; }
inline std::string Pointer(bool busy) { return busy ? "busy" : "idle"; }
inline std::string CaptionTo(const std::string& caption) { return "caption " + caption; }

/// A fake window: fields are set by the test, questions are answered from a queue (No when
/// it runs dry), and everything the run does is recorded.
class RecordingUi final : public TaskUi {
 public:
  explicit RecordingUi(std::string caption = "window") : caption_(std::move(caption)) {}

  std::map<std::string, std::string> texts;
  std::map<std::string, bool> checks;
  std::map<std::string, std::vector<std::string>> items;
  std::deque<Answer> answers;
  Events events;
  /// The messages alone, and the captions set alone (without the "caption " mark), in order.
  Events messages;
  std::vector<std::string> captions;
  /// StopRequested() returns true from its (stop_after+1)-th call on; -1 never.
  int stop_after = -1;
  /// How many times the run has asked StopRequested().
  int stop_checks = 0;
  /// When set, StopRequested() is also true once this says so.
  std::function<bool()> stop_when;

  /// Fills fields from "name=value|name=value": the text (a list's selection as a number),
  /// and the check box ticked for "1".
  void Set(const std::string& fields);

  std::string Text(const std::string& field) override { return texts[field]; }
  std::vector<std::string> Items(const std::string& field) override { return items[field]; }
  bool Checked(const std::string& field) override { return checks[field]; }
  /// A list's selection is the number in its text, -1 without one.
  int Selected(const std::string& field) override {
    return texts.contains(field) ? std::stoi(texts[field]) : -1;
  }
  Answer Message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title) override;
  void Focus(const std::string& field) override { events.push_back(FocusOn(field)); }
  void SetBusy(bool busy) override { events.push_back(Pointer(busy)); }
  std::string Caption() override { return caption_; }
  void SetCaption(const std::string& caption) override {
    caption_ = caption;
    captions.push_back(caption);
    events.push_back(CaptionTo(caption));
  }
  bool StopRequested() override {
    return (stop_when && stop_when()) || (stop_after >= 0 && stop_checks++ >= stop_after);
  }

 private:
  std::string caption_;
};

}  // namespace quorvane::testing

namespace quorvane {
void PrintTo(const Names& names, std::ostream* os);
}  // namespace quorvane
