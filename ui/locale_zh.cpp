#include "locale_zh.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace brindle::ui {

bool InstallChineseLocale(QCoreApplication& app) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto translator = std::make_unique<QTranslator>();
    // Where Qt was installed, or, for a program shipped with its own Qt, beside it.
    const QString places[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                              QCoreApplication::applicationDirPath() +
                                  QStringLiteral("/translations")};
    for (const QString& place : places)
        if (translator->load(QStringLiteral("qtbase_zh_CN"), place)) {
            // Owned by the application, which outlives every window that uses it.
            translator->setParent(&app);
            return QCoreApplication::installTranslator(translator.release());
        }
    return false;
}

} // namespace brindle::ui
