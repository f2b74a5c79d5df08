#include "app/application.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "shell/install_layout.h"

namespace quorvane::gui {

void SetUpApplication(QApplication& app) {
  QApplication::setApplicationName("Quorvane");
  // The desktop matches the windows to the installed desktop entry, and so to its icon.
  QApplication::setDesktopFileName(kDesktopId);
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  auto* translator = new QTranslator(&app);
  if (translator->load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(translator);
  QFont font;
  font.setFamilies({"SimSun", QString::fromUtf8("宋体"), "Noto Sans CJK SC",
                    "WenQuanYi Micro Hei"});
  font.setPointSize(9);
  QApplication::setFont(font);
}

}  // namespace quorvane::gui
