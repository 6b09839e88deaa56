#include "path_text.h"

#include <QDir>

namespace brindle::ui {

QString QStringFromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    // Linux file names are bytes, conventionally UTF-8, which is also how Qt decodes them.
    return QString::fromStdString(path.string());
#endif
}

std::filesystem::path PathFromQString(const QString& text) {
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(text.toStdString());
#endif
}

QString NativePathText(const std::filesystem::path& path) {
    return QDir::toNativeSeparators(QStringFromPath(path));
}

} // namespace brindle::ui
