#pragma once

#include "wording/report_wording.h"

#include <QDialog>

class QTreeWidget;

// The results window: what a run did, folder by folder, with every left-out subfolder and
// its reason, the warnings and the errors. Ctrl+C or "复制报告" copies it all as plain text.
class CResultsDlg : public QDialog {
    Q_OBJECT
public:
    CResultsDlg(const brindle::ExportReport& report, QWidget* parent = nullptr);

    // The whole report as the clipboard receives it.
    QString reportText() const;

public slots:
    void copyReport();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fillTree();
    void sizeColumns();

    brindle::wording::ReportText m_text;
    QTreeWidget* m_tree = nullptr;
    bool m_columnsSized = false;
};
