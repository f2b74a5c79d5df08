#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/names.h"
#include "common/task_ui.h"

namespace quorvane::testing {

/// One thing a run did to its window, in the order it happened.
struct UiEvent {
  enum Kind { Message, Focus, Busy, Caption } kind;
  std::string text;  // message text, field name, caption, or "busy"/"default"
  Icon icon = Icon::Information;
  Buttons buttons = Buttons::Ok;
  std::string title;

  bool operator==(const UiEvent&) const = default;
};

UiEvent Msg(std::string text, Icon icon, Buttons buttons = Buttons::Ok,
            std::string title = kAppTitle);
UiEvent FocusOn(std::string field);
UiEvent Pointer(bool busy);
UiEvent CaptionTo(std::string caption);

/// A fake window: fields are set by the test, questions are answered from a queue (No when
/// it runs dry), and everything the run does is recorded.
class RecordingUi final : public TaskUi {
 public:
  explicit RecordingUi(std::string caption = "window") : caption_(std::move(caption)) {}

  std::map<std::string, std::string> texts;
  std::map<std::string, bool> checks;
  std::map<std::string, int> selections;
  std::map<std::string, std::vector<std::string>> items;
  std::deque<Answer> answers;
  std::vector<UiEvent> events;

  /// Only the messages, in order.
  std::vector<UiEvent> Messages() const;
  /// Only the captions set, in order.
  std::vector<std::string> Captions() const;

  std::string Text(const std::string& field) override { return texts[field]; }
  std::vector<std::string> Items(const std::string& field) override { return items[field]; }
  bool Checked(const std::string& field) override { return checks[field]; }
  int Selected(const std::string& field) override;
  Answer Message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title) override;
  void Focus(const std::string& field) override { events.push_back(FocusOn(field)); }
  void SetBusy(bool busy) override { events.push_back(Pointer(busy)); }
  std::string Caption() override { return caption_; }
  void SetCaption(const std::string& caption) override;

 private:
  std::string caption_;
};

std::ostream& operator<<(std::ostream& os, const UiEvent& e);

}  // namespace quorvane::testing

namespace quorvane {
void PrintTo(const Names& names, std::ostream* os);
}  // namespace quorvane

namespace quorvane::testing {

}  // namespace quorvane::testing
