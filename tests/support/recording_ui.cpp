#include "support/recording_ui.h"

#include <ostream>

namespace quorvane::testing {

UiEvent Msg(std::string text, Icon icon, Buttons buttons, std::string title) {
  return {UiEvent::Message, std::move(text), icon, buttons, std::move(title)};
}
UiEvent FocusOn(std::string field) { return {UiEvent::Focus, std::move(field), {}, {}, {}}; }
UiEvent Pointer(bool busy) { return {UiEvent::Busy, busy ? "busy" : "default", {}, {}, {}}; }
UiEvent CaptionTo(std::string caption) { return {UiEvent::Caption, std::move(caption), {}, {}, {}}; }

std::vector<UiEvent> RecordingUi::Messages() const {
  std::vector<UiEvent> out;
  for (const auto& e : events)
    if (e.kind == UiEvent::Message) out.push_back(e);
  return out;
}

std::vector<std::string> RecordingUi::Captions() const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.kind == UiEvent::Caption) out.push_back(e.text);
  return out;
}

int RecordingUi::Selected(const std::string& field) {
  const auto it = selections.find(field);
  return it == selections.end() ? -1 : it->second;
}

Answer RecordingUi::Message(const std::string& text, Icon icon, Buttons buttons,
                            const std::string& title) {
  events.push_back(Msg(text, icon, buttons, title));
  if (buttons == Buttons::Ok) return Answer::Ok;
  if (answers.empty()) return Answer::No;
  const Answer a = answers.front();
  answers.pop_front();
  return a;
}

void RecordingUi::SetCaption(const std::string& caption) {
  caption_ = caption;
  events.push_back(CaptionTo(caption));
}

std::ostream& operator<<(std::ostream& os, const UiEvent& e) {
  static const char* kKinds[] = {"Message", "Focus", "Busy", "Caption"};
  os << kKinds[e.kind] << "(" << e.text;
  if (e.kind == UiEvent::Message)
    os << ", icon " << static_cast<int>(e.icon) << ", buttons " << static_cast<int>(e.buttons)
       << ", title " << e.title;
  return os << ")";
}

}  // namespace quorvane::testing

namespace quorvane {
void PrintTo(const Names& names, std::ostream* os) {
  for (std::string_view name : names) *os << "\"" << name << "\" ";
}
}  // namespace quorvane
