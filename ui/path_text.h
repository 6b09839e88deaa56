#pragma once

#include <QString>

#include <filesystem>

// Paths cross between the export library (std::filesystem) and the widgets (QString) only
// through these, so no byte of a name is lost or reinterpreted on the way.
namespace brindle::ui {

// The path as Qt text: UTF-16 as stored on Windows, the bytes read as UTF-8 elsewhere.
QString QStringFromPath(const std::filesystem::path& path);
// The reverse of QStringFromPath.
std::filesystem::path PathFromQString(const QString& text);
// The path as the user's system writes it (backslashes on Windows).
QString NativePathText(const std::filesystem::path& path);

} // namespace brindle::ui
