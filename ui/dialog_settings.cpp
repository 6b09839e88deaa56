#include "dialog_settings.h"

#include <QSettings>

namespace brindle::ui {

namespace {

QString TilesetFolderKey() {
    return QStringLiteral("tilesets/folder");
}

} // namespace

// QSettings writes when it goes out of scope: each call reads or writes at once.
QString RememberedTilesetFolder() {
    const QSettings settings(QSettings::UserScope, QStringLiteral("Brindle"),
                             QStringLiteral("Brindle"));
    return settings.value(TilesetFolderKey()).toString();
}

void RememberTilesetFolder(const QString& folder) {
    QSettings settings(QSettings::UserScope, QStringLiteral("Brindle"), QStringLiteral("Brindle"));
    settings.setValue(TilesetFolderKey(), folder);
}

} // namespace brindle::ui
