#pragma once

#include "export_job.h"

#include "export/export_run.h"

#include "wording/time_left.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

class CFolderList;
class CTilesetRow;
class QLabel;
class QProgressDialog;
class QPushButton;
class QRadioButton;

// The main dialog: the user lists folders, OK writes an index into each of them.
class CBrindleDlg : public QDialog {
    Q_OBJECT
public:
    // Asks the user for folders, starting beside `lastFolder` (the one added last, or empty);
    // no folders means they changed their mind.
    using FolderChooser = std::function<QStringList(QWidget* parent, const QString& lastFolder)>;
    // Runs the export; replaceable so tests can watch or pace a run.
    using ExportRunner = brindle::ui::ExportJob::Runner;
    // Asks, on the GUI thread, whether to replace the root.osgb that `why` is about.
    using ReplaceConfirmer = std::function<bool(const brindle::Problem& why)>;

    explicit CBrindleDlg(QWidget* parent = nullptr);
    ~CBrindleDlg() override;

    void setFolderChooser(FolderChooser chooser);
    void setExportRunner(ExportRunner runner);
    void setReplaceConfirmer(ReplaceConfirmer confirmer);
    // Asks for the folder the 3D Tiles go to (see CTilesetRow).
    void setTilesetFolderChooser(std::function<QString(QWidget*, const QString&)> chooser);

    // The folders as listed, top to bottom, each exactly as it was given.
    QStringList folders() const;
    // What the last OK produced; empty before the first.
    const brindle::ExportReport& lastReport() const { return m_lastReport; }

signals:
    // A listed folder's subfolders were counted, and the paged index's hint updated to match.
    void subfoldersCounted(const QString& folder);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnAddFolder();
    void OnDeleteFolder();
    void OnExport();
    void OnAbout();

private:
    void OnInitDialog();
    void addFolders(const QStringList& folders);
    void showProgress(const brindle::ExportProgress& progress);
    bool askReplace(const brindle::Problem& why);
    void presentReport(const brindle::ExportReport& report, std::chrono::milliseconds took);
    void countNewFolders();
    void updatePagedHint();
    void followTilesetChoice(bool tilesets);
    brindle::IndexKind chosenIndex() const;

    CFolderList* m_list = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    // Which index to write; no settings are kept, so each start offers the proxy index.
    QRadioButton* m_proxyIndex = nullptr;
    QRadioButton* m_pagedIndex = nullptr;
    QRadioButton* m_overviewIndex = nullptr;
    // Suggests the overview (or paged) index while the proxy index is chosen for a folder of
    // many tiles.
    QLabel* m_pagedHint = nullptr;
    // 3D Tiles are converted from the overview index, so while this is checked the overview
    // is the index written, its choice shown greyed; the choice made before comes back when
    // it is cleared.
    CTilesetRow* m_tilesets = nullptr;
    QRadioButton* m_indexBeforeTilesets = nullptr;
    // Each listed folder's subfolders, counted no further than one past the hint's threshold
    // on a thread of its own (a folder on a network share can take seconds to list); empty
    // while the count runs. Keyed by the path as listed.
    std::map<QString, std::optional<std::size_t>> m_subfolderCounts;
    std::vector<std::thread> m_counters;
    std::atomic<bool> m_stopCounting{false};
    // Only set while a run is in progress; the worker's late messages find it null.
    QPointer<QProgressDialog> m_progress;
    // From the rate of the run in hand, for the progress dialog.
    std::optional<brindle::TimeLeftEstimate> m_timeLeft;
    FolderChooser m_chooseFolder;
    ExportRunner m_runExport;
    ReplaceConfirmer m_confirmReplace;
    // Where the chooser opens next: the folder added last, for this session only.
    QString m_lastFolder;
    brindle::ExportReport m_lastReport;
};
