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

// HanaMinB lacks the Extension B characters Unicode 13 added
// (U+2A6D7..U+2A6DD); BabelStone Han has them.
QStringList EditorFontFamilies() {
  return {QStringLiteral("宋体"),
          QStringLiteral("SimSun"),
          QStringLiteral("NSimSun"),
          QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("WenQuanYi Micro Hei"),
          QStringLiteral("HanaMinA"),
          QStringLiteral("HanaMinB"),
          QStringLiteral("BabelStone Han"),
          QStringLiteral("Unifont"),
          QStringLiteral("Unifont Upper")};
}

}  // namespace mirel
