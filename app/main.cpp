// quorvane: the desktop program.
#include <QApplication>

#include "common/utf8_locale.h"
#include "app/application.h"
#include "app/frm_main.h"

int main(int argc, char** argv) {
  quorvane::UseUtf8CharacterHandling();
  QApplication app(argc, argv);
  quorvane::gui::SetUpApplication(app);
  quorvane::gui::frmMain main_window;
  main_window.show();
  return app.exec();
}
