#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QFileDialog;
class QWidget;

// The folder chooser is Qt's own dialog rather than the platform's: the platform choosers
// pick one folder at a time, this one takes several, and its labels are set in Chinese.
// `lastFolder` is the folder added last this session; the dialog opens beside it.
std::unique_ptr<QFileDialog> CreateFolderDialog(QWidget* parent, const QString& lastFolder);
// Shows the chooser; returns the folders picked, none when the user cancelled.
QStringList ChooseFolders(QWidget* parent, const QString& lastFolder);
// Shows the chooser for the one folder the 3D Tiles tilesets go to, opening beside `current`;
// returns it, empty when the user cancelled.
QString ChooseOutputFolder(QWidget* parent, const QString& current);
