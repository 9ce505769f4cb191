// What makes the editor read and show Chinese whatever the desktop's
// language: Qt's own translations (buttons, pickers) and the font families
// the window asks for, CJK first, then those that hold the ideographs
// beyond the BMP (Extension B and later), which common CJK fonts leave out.
#pragma once

#include <QStringList>

class QTranslator;

namespace mirel {

// Loads Qt's Simplified Chinese translations into `translator` and installs
// it; false (nothing installed) when the translations are not on the system.
bool InstallQtChinese(QTranslator& translator);

QStringList EditorFontFamilies();

}  // namespace mirel
