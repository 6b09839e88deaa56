#pragma once

#include "export/export_report.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <string>
#include <system_error>
#include <vector>

namespace brindle::ui {

// One left-out subfolder as the results window lists it.
struct LeftOutText {
    QString name;   // the subfolder's name
    QString reason; // why it is not in the index
};

// One listed folder, in words: the top-level row of the results window and its details.
struct FolderText {
    QString folder;      // the folder, as the system writes paths
    QString status;      // written, dry run, failed, cancelled, listed twice
    QString entries;     // the number of index entries, empty when nothing was written
    QString translation; // the translation and where it came from, empty when not written
    bool ok = false;     // the index was written (or would be, in a dry run), or listed before
    QString error;       // why the index was not written, empty when it was
    QStringList warnings;
    std::vector<LeftOutText> leftOut;
    // A block of a folder of blocks: that folder, as `folder` writes it; the results window
    // shows the block under it.
    QString master;
};

// A whole run in words.
struct ReportText {
    bool succeeded = false; // every folder written and not cancelled
    QString headline;       // one short phrase for the top of the window
    QString summary;        // one sentence of counts under it
    std::vector<FolderText> folders;
};

// Puts the export run's kinds into the dialog's words. Every text goes through tr(), with the
// Chinese as source text, so a translation file can give other languages later.
class ReportWording {
    Q_DECLARE_TR_FUNCTIONS(ReportWording)
public:
    static ReportText describe(const ExportReport& report);
    // The report as plain text for the clipboard: headline, summary, then folder by folder.
    static QString plainText(const ReportText& text);

    static QStringList columnTitles();
    static QString leftOutGroup(std::size_t count);

    static QString status(FolderStatus status);
    static QString leftOutReason(const LeftOutSubfolder& leftOut);
    // Why a file does not load; the reader's own message as it gave it.
    static QString loadFailure(LoadFailure failure, const std::string& readerText);
    static QString problem(const Problem& problem);
    static QString cause(const std::error_code& cause);
    static QString origin(const FolderReport& folder);
    static QString translation(const osg::Vec3d& translation);
    // The question asked before replacing an existing root.osgb (`why` as in confirmReplace).
    static QString replaceQuestion(const Problem& why);
    // Why the run stopped short when it threw: out of memory, or an unexpected error and the
    // exception's own words (`what`, in the system's encoding; empty when it had none).
    static QString runOutOfMemory();
    static QString runFailedUnexpectedly(const std::string& what);
};

} // namespace brindle::ui
