#pragma once

#include <QDialog>

// The About box: icon, name and version, and the scene library in use.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
