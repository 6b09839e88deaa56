#include "export_progress_win.h"

#include "dialog_common_win.h"
#include "replace_question_win.h"
#include "report_text_win.h"
#include "resource.h"

#include "export/cache/verdict_cache.h"
#include "wording/report_wording.h"
#include "wording/tileset_progress.h"
#include "wording/time_left.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace brindle::win32 {
namespace {

// Messages the export's thread posts (or sends) to the progress dialog.
constexpr UINT WM_APP_PROGRESS = WM_APP + 1; // a newer ExportProgress waits in RunShared
constexpr UINT WM_APP_DONE = WM_APP + 2;     // the report waits in RunShared
constexpr UINT WM_APP_CONFIRM = WM_APP + 3;  // sent: lParam is the Problem; returns IDYES/IDNO

// What the export's thread hands to the dialog's thread, under the mutex.
struct RunShared {
    std::mutex mutex;
    std::optional<brindle::ExportProgress> progress; // the latest, not yet shown
    std::optional<brindle::ExportReport> report;     // set once, when the run is over
    std::wstring failure; // why the run threw, in words; there is no report then
};

class ExportRun {
public:
    ExportRun(std::vector<std::filesystem::path> folders, brindle::IndexKind index,
              std::optional<std::filesystem::path> tilesets)
        : m_folders(std::move(folders)), m_index(index), m_tilesets(std::move(tilesets)) {}

    ~ExportRun() {
        if (m_worker.joinable())
            m_worker.join();
    }

    // Runs the export under a modal progress dialog; the report, or nothing if it threw (then
    // failure() says why).
    std::optional<brindle::ExportReport> runUnder(HWND owner) {
        DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_PROGRESS), owner, &ExportRun::proc,
                        reinterpret_cast<LPARAM>(this));
        if (m_worker.joinable())
            m_worker.join();
        const std::lock_guard<std::mutex> lock(m_shared.mutex);
        return std::move(m_shared.report);
    }

    std::wstring failure() {
        const std::lock_guard<std::mutex> lock(m_shared.mutex);
        return m_shared.failure;
    }

private:
    static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            reinterpret_cast<ExportRun*>(lParam)->start(dialog);
            return TRUE;
        }
        auto* run = reinterpret_cast<ExportRun*>(GetWindowLongPtrW(dialog, DWLP_USER));
        return run ? run->handle(message, wParam, lParam) : FALSE;
    }

    void start(HWND dialog) {
        m_dialog = dialog;
        SetIcons(dialog);
        SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0,
                            static_cast<LPARAM>(m_folders.size()));
        // The thread starts after m_dialog is set, so it sees the handle.
        m_worker = std::thread([this] { work(); });
    }

    void work() {
        brindle::ExportOptions options;
        options.index = m_index;
        if (m_tilesets)
            options.tilesets.folder = *m_tilesets;
        options.verdictCache = brindle::DefaultVerdictCacheFolder();
        brindle::ExportCalls calls;
        calls.cancel = &m_cancel;
        calls.progress = [this](const brindle::ExportProgress& step) {
            {
                const std::lock_guard<std::mutex> lock(m_shared.mutex);
                m_shared.progress = step;
            }
            PostMessageW(m_dialog, WM_APP_PROGRESS, 0, 0);
        };
        // Asked on the dialog's thread; SendMessageW waits for the answer, so the Problem
        // outlives the question. Once the run is being cancelled nobody is asked.
        calls.confirmReplace = [this](const brindle::Problem& why) {
            if (m_cancel)
                return false;
            return SendMessageW(m_dialog, WM_APP_CONFIRM, 0, reinterpret_cast<LPARAM>(&why)) ==
                   IDYES;
        };
        std::optional<brindle::ExportReport> report;
        std::wstring failure;
        // Whatever the run throws is told as what it is, not all as a lack of memory.
        try {
            report = brindle::ExportFolderIndexes(m_folders, options, calls);
        } catch (const std::bad_alloc&) {
            failure = RunOutOfMemory();
        } catch (const std::exception& e) {
            failure = RunFailedUnexpectedly(e.what());
        } catch (...) {
            failure = RunFailedUnexpectedly({});
        }
        {
            const std::lock_guard<std::mutex> lock(m_shared.mutex);
            m_shared.report = std::move(report);
            m_shared.failure = std::move(failure);
        }
        PostMessageW(m_dialog, WM_APP_DONE, 0, 0);
    }

    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_APP_PROGRESS:
            showProgress();
            return TRUE;
        case WM_APP_CONFIRM: {
            const auto& why = *reinterpret_cast<const brindle::Problem*>(lParam);
            SetWindowLongPtrW(m_dialog, DWLP_MSGRESULT, AskReplace(m_dialog, why) ? IDYES : IDNO);
            return TRUE;
        }
        case WM_APP_DONE:
            EndDialog(m_dialog, IDOK);
            return TRUE;
        case WM_COMMAND:
            // The button, Escape and the close box all cancel; the dialog stays until the
            // run has stopped, which it does between tiles.
            if (LOWORD(wParam) == IDCANCEL) {
                m_cancel = true;
                SetDlgItemTextW(m_dialog, IDC_PROGRESS_TEXT, T("正在取消…").c_str());
                EnableWindow(GetDlgItem(m_dialog, IDCANCEL), FALSE);
                return TRUE;
            }
            break;
        }
        return FALSE;
    }

    void showProgress() {
        std::optional<brindle::ExportProgress> step;
        {
            const std::lock_guard<std::mutex> lock(m_shared.mutex);
            step.swap(m_shared.progress);
        }
        // Once cancelled, keep saying so rather than showing the run wind down.
        if (!step || m_cancel)
            return;
        // The tiles checked and the folders written, or the tileset stage in hand.
        const brindle::ProgressSteps steps = brindle::StepsShown(*step);
        SendDlgItemMessageW(m_dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0,
                            static_cast<LPARAM>(steps.total));
        SendDlgItemMessageW(m_dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(steps.done),
                            0);
        std::wstring text = WideFromUtf8(brindle::wording::ProgressText(
            *step, m_timeLeft.at(*step, brindle::ProgressClock::now())));
        // Edit and static controls break lines at "\r\n".
        for (std::size_t at = text.find(L'\n'); at != std::wstring::npos;
             at = text.find(L'\n', at + 2))
            text.insert(at, 1, L'\r');
        SetDlgItemTextW(m_dialog, IDC_PROGRESS_TEXT, text.c_str());
    }

    const std::vector<std::filesystem::path> m_folders;
    const brindle::IndexKind m_index;
    const std::optional<std::filesystem::path> m_tilesets;
    const brindle::TimeLeftEstimate m_timeLeft{brindle::ProgressClock::now()};
    std::atomic<bool> m_cancel{false};
    RunShared m_shared;
    HWND m_dialog = nullptr;
    std::thread m_worker;
};

} // namespace

RunOutcome RunExportUnderProgress(HWND owner, std::vector<std::filesystem::path> folders,
                                  IndexKind index, std::optional<std::filesystem::path> tilesets) {
    ExportRun run(std::move(folders), index, std::move(tilesets));
    RunOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    outcome.report = run.runUnder(owner);
    outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (!outcome.report)
        outcome.failure = run.failure();
    return outcome;
}

} // namespace brindle::win32
