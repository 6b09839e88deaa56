#pragma once

class QCoreApplication;

namespace brindle::ui {

// Makes Qt's own texts (standard buttons, the file dialog, its views) Chinese and sets the
// Chinese locale for numbers and dates. Returns false when Qt's translations are not
// installed; the program still works, with those texts in English.
bool InstallChineseLocale(QCoreApplication& app);

} // namespace brindle::ui
