#pragma once

#include "export/export_run.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <vector>

class QListWidget;
class QProgressDialog;
class QPushButton;

// The main dialog: the user lists folders, OK writes an index into each of them.
class CBrindleDlg : public QDialog {
    Q_OBJECT
public:
    // Asks the user for a folder; an empty string means they changed their mind.
    using FolderChooser = std::function<QString(QWidget* parent)>;
    // Runs the export; replaceable so tests can watch or pace a run.
    using ExportRunner = std::function<brindle::ExportReport(
        const std::vector<std::filesystem::path>&, const brindle::ExportOptions&)>;

    explicit CBrindleDlg(QWidget* parent = nullptr);
    ~CBrindleDlg() override;

    void setFolderChooser(FolderChooser chooser);
    void setExportRunner(ExportRunner runner);

    // The folders as listed, top to bottom.
    QStringList folders() const;
    // What the last OK produced; empty before the first.
    const brindle::ExportReport& lastReport() const { return m_lastReport; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnAddFolder();
    void OnDeleteFolder();
    void OnExport();
    void OnAbout();

private:
    void OnInitDialog();
    void showProgress(const brindle::ExportProgress& progress);
    void presentReport(const brindle::ExportReport& report);

    QListWidget* m_list = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    // Only set while a run is in progress; the worker's late messages find it null.
    QPointer<QProgressDialog> m_progress;
    FolderChooser m_chooseFolder;
    ExportRunner m_runExport;
    brindle::ExportReport m_lastReport;
};
