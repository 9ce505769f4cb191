#include "app/ui/chinese_ui.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace mirel {

bool InstallQtChinese(QTranslator& translator) {
  if (!translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                       QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return QCoreApplication::installTranslator(&translator);
}

QStringList EditorFontFamilies() {
  return {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
          QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
          QStringLiteral("HanaMinA"), QStringLiteral("HanaMinB"),
          // The Extension B characters HanaMinB lacks (Unicode 13 added
          // U+2A6D7..U+2A6DD).
          QStringLiteral("BabelStone Han"), QStringLiteral("Unifont"),
          QStringLiteral("Unifont Upper")};
}

}  // namespace mirel
