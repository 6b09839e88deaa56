#pragma once

#include "wording/report_wording.h"

#include <QDialog>
#include <QImage>

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// The results window: what a run did, folder by folder, with every left-out subfolder and
// its reason, the warnings and the errors. Ctrl+C or "复制报告" copies it all as plain text.
class CResultsDlg : public QDialog {
    Q_OBJECT
public:
    // `took`: how long the run took, said under the headline when given.
    CResultsDlg(const brindle::ExportReport& report, QWidget* parent = nullptr,
                std::optional<std::chrono::milliseconds> took = std::nullopt);

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
    void wrapSentences();
    void showPictureOf(const QTreeWidgetItem* item);

    brindle::wording::ReportText m_text;
    // By folder, as the report lists them: the overview's top seen from above, or null.
    std::vector<QImage> m_pictures;
    QTreeWidget* m_tree = nullptr;
    QLabel* m_picture = nullptr;
    QLabel* m_pictureCaption = nullptr;
    // The error, warning and spatial reference rows, each with its whole sentence, which is
    // broken into lines as wide as the tree.
    std::vector<std::pair<QTreeWidgetItem*, QString>> m_sentences;
    bool m_columnsSized = false;
};
