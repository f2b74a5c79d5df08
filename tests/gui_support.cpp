#include "gui_support.h"

namespace quorvane::testing {

ServiceRecorder::ServiceRecorder() {
  auto& s = gui::services();
  s.message = [this](QWidget*, const QString& text, Icon icon, Buttons buttons,
                     const QString& title) {
    messages.push_back({text, icon, buttons, title});
    if (during_message) during_message();
    return buttons == Buttons::YesNo ? answer : Answer::Ok;
  };
  s.pickFolder = [this](QWidget*) { return folder_pick; };
  s.pickSaveFile = [this](QWidget*) { return file_pick; };
  s.openPage = [this](const QString& path) {
    opened_pages.push_back(path);
    return page_opens;
  };
  s.showAbout = [this](QWidget*) { ++about_shown; };
  s.startDetached = [](const QString&) { return false; };
}

}  // namespace quorvane::testing
