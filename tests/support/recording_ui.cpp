#include "support/recording_ui.h"

#include <ostream>
#include <sstream>

namespace quorvane::testing {

std::string Msg(const std::string& text, Icon icon, Buttons buttons, const std::string& title) {
  static const char* const kIcons[] = {"Information", "Warning", "Question", "Error"};
  return kIcons[static_cast<int>(icon)] + std::string(buttons == Buttons::YesNo ? "?" : "") +
         (title == kAppTitle ? "" : " [" + title + "]") + ": " + text;
}

void RecordingUi::Set(const std::string& fields) {
  std::istringstream in(fields);
  for (std::string field; std::getline(in, field, '|');) {
    const std::string name = field.substr(0, field.find('='));
    const std::string value = field.substr(name.size() + 1);
    texts[name] = value;
    checks[name] = value == "1";
  }
}

Answer RecordingUi::Message(const std::string& text, Icon icon, Buttons buttons,
                            const std::string& title) {
  messages.push_back(Msg(text, icon, buttons, title));
  events.push_back(messages.back());
  if (buttons == Buttons::Ok) return Answer::Ok;
  if (answers.empty()) return Answer::No;
  const Answer a = answers.front();
  answers.pop_front();
  return a;
}

}  // namespace quorvane::testing

namespace quorvane {
void PrintTo(const Names& names, std::ostream* os) {
  for (std::string_view name : names) *os << "\"" << name << "\" ";
}
}  // namespace quorvane
