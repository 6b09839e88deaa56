#pragma once

#include "wording/report_wording.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

// The Qt dialogs' side of the wording library: its UTF-8 as Qt text.
namespace brindle::ui {

inline QString QText(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

inline QStringList QTexts(const std::vector<std::string>& utf8) {
    QStringList texts;
    texts.reserve(static_cast<int>(utf8.size()));
    for (const std::string& text : utf8)
        texts << QText(text);
    return texts;
}

} // namespace brindle::ui
