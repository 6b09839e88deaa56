// Brindle's dialog for Windows, on the plain Win32 API: a list of folders to export, and the
// export run on a worker thread under a progress dialog, then its report.

#include "report_text_win.h"
#include "resource.h"

#include "export/cache/verdict_cache.h"
#include "export/export_run.h"
#include "export/scan/block_layout.h"
#include "export/scan/folder_identity.h"
#include "export/scan/subfolder_scan.h"
#include "wording/report_wording.h"
#include "wording/text.h"
#include "wording/time_left.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using brindle::win32::WideFromUtf8;

// Messages the export's thread posts (or sends) to the progress dialog.
constexpr UINT WM_APP_PROGRESS = WM_APP + 1; // a newer ExportProgress waits in RunShared
constexpr UINT WM_APP_DONE = WM_APP + 2;     // the report waits in RunShared
constexpr UINT WM_APP_CONFIRM = WM_APP + 3;  // sent: lParam is the Problem; returns IDYES/IDNO
// Posted to the main dialog: a count of a listed folder's subfolders waits in its queue.
constexpr UINT WM_APP_COUNTED = WM_APP + 4;

std::wstring T(const char* utf8) {
    return WideFromUtf8(utf8);
}

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

int Message(HWND owner, const std::wstring& text, UINT flags) {
    return MessageBoxW(owner, text.c_str(), L"Brindle", flags);
}

void SetIcons(HWND dialog) {
    const auto load = [](int metricX, int metricY) {
        return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME_ICON),
                                             IMAGE_ICON, GetSystemMetrics(metricX),
                                             GetSystemMetrics(metricY), LR_SHARED));
    };
    SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(load(SM_CXICON, SM_CYICON)));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(load(SM_CXSMICON, SM_CYSMICON)));
}

// Keeps a resizable dialog's controls in place as it is resized: the main control (the list,
// the report) grows with the window, the controls right of it move right, those below it
// move down. The window does not shrink below the size it opened at.
class Layout {
public:
    void capture(HWND dialog, int mainId) {
        m_dialog = dialog;
        RECT client;
        GetClientRect(dialog, &client);
        m_initialClient = {client.right, client.bottom};
        RECT window;
        GetWindowRect(dialog, &window);
        m_minimum = {window.right - window.left, window.bottom - window.top};
        RECT main = rectOf(GetDlgItem(dialog, mainId));
        m_controls.clear();
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            const RECT rect = rectOf(child);
            Anchor anchor{child, rect, false, false, false};
            if (GetDlgCtrlID(child) == mainId)
                anchor.grow = true;
            else {
                anchor.moveX = rect.left >= main.right;
                anchor.moveY = rect.top >= main.bottom;
            }
            m_controls.push_back(anchor);
        }
    }

    void apply() const {
        RECT client;
        GetClientRect(m_dialog, &client);
        const int dx = std::max<LONG>(0, client.right - m_initialClient.cx);
        const int dy = std::max<LONG>(0, client.bottom - m_initialClient.cy);
        HDWP positions = BeginDeferWindowPos(static_cast<int>(m_controls.size()));
        for (const Anchor& anchor : m_controls) {
            RECT rect = anchor.initial;
            if (anchor.grow) {
                rect.right += dx;
                rect.bottom += dy;
            }
            if (anchor.moveX)
                OffsetRect(&rect, dx, 0);
            if (anchor.moveY)
                OffsetRect(&rect, 0, dy);
            if (positions)
                positions = DeferWindowPos(positions, anchor.control, nullptr, rect.left, rect.top,
                                           rect.right - rect.left, rect.bottom - rect.top,
                                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (positions)
            EndDeferWindowPos(positions);
        InvalidateRect(m_dialog, nullptr, TRUE);
    }

    void limit(MINMAXINFO& info) const { info.ptMinTrackSize = {m_minimum.cx, m_minimum.cy}; }

private:
    struct Anchor {
        HWND control;
        RECT initial;
        bool grow, moveX, moveY;
    };

    RECT rectOf(HWND control) const {
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, m_dialog, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    HWND m_dialog = nullptr;
    SIZE m_initialClient{};
    SIZE m_minimum{};
    std::vector<Anchor> m_controls;
};

// ---- About box --------------------------------------------------------------------------

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- The export run under its progress dialog --------------------------------------------

// What the export's thread hands to the dialog's thread, under the mutex.
struct RunShared {
    std::mutex mutex;
    std::optional<brindle::ExportProgress> progress; // the latest, not yet shown
    std::optional<brindle::ExportReport> report;     // set once, when the run is over
    std::wstring failure; // why the run threw, in words; there is no report then
};

class ExportRun {
public:
    ExportRun(std::vector<std::filesystem::path> folders, brindle::IndexKind index)
        : m_folders(std::move(folders)), m_index(index) {}

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
        options.verdictCache = brindle::DefaultVerdictCacheFolder();
        options.cancel = &m_cancel;
        options.progress = [this](const brindle::ExportProgress& step) {
            {
                const std::lock_guard<std::mutex> lock(m_shared.mutex);
                m_shared.progress = step;
            }
            PostMessageW(m_dialog, WM_APP_PROGRESS, 0, 0);
        };
        // Asked on the dialog's thread; SendMessageW waits for the answer, so the Problem
        // outlives the question. Once the run is being cancelled nobody is asked.
        options.confirmReplace = [this](const brindle::Problem& why) {
            if (m_cancel)
                return false;
            return SendMessageW(m_dialog, WM_APP_CONFIRM, 0, reinterpret_cast<LPARAM>(&why)) ==
                   IDYES;
        };
        std::optional<brindle::ExportReport> report;
        std::wstring failure;
        // Whatever the run throws is told as what it is, not all as a lack of memory.
        try {
            report = brindle::ExportFolderIndexes(m_folders, options);
        } catch (const std::bad_alloc&) {
            failure = brindle::win32::RunOutOfMemory();
        } catch (const std::exception& e) {
            failure = brindle::win32::RunFailedUnexpectedly(e.what());
        } catch (...) {
            failure = brindle::win32::RunFailedUnexpectedly({});
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
            const int answer = Message(m_dialog, brindle::win32::ReplaceQuestion(why),
                                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
            SetWindowLongPtrW(m_dialog, DWLP_MSGRESULT, answer);
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
        // A block is usually one folder of thousands of tiles, so the bar moves with every
        // tile checked as well as with every index written.
        const std::size_t maximum = step->subfolderCount + step->folderCount;
        const std::size_t done = std::min(step->subfoldersDone + step->foldersDone, maximum);
        SendDlgItemMessageW(m_dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0,
                            static_cast<LPARAM>(maximum));
        SendDlgItemMessageW(m_dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(done), 0);
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
    const brindle::TimeLeftEstimate m_timeLeft{brindle::ProgressClock::now()};
    std::atomic<bool> m_cancel{false};
    RunShared m_shared;
    HWND m_dialog = nullptr;
    std::thread m_worker;
};

// ---- The results window ------------------------------------------------------------------

struct ResultsState {
    std::wstring text;
    Layout layout;
};

bool CopyToClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool copied = false;
    if (memory) {
        if (void* target = GlobalLock(memory)) {
            std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(target));
            GlobalUnlock(memory);
            // The clipboard owns the memory once it takes it.
            copied = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!copied)
            GlobalFree(memory);
    }
    CloseClipboard();
    return copied;
}

INT_PTR CALLBACK ResultsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ResultsState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        state = reinterpret_cast<ResultsState*>(lParam);
        SetIcons(dialog);
        // A multi-line edit control holds 32K characters unless told otherwise.
        SendDlgItemMessageW(dialog, IDC_REPORT_TEXT, EM_SETLIMITTEXT, 0, 0);
        SetDlgItemTextW(dialog, IDC_REPORT_TEXT, state->text.c_str());
        state->layout.capture(dialog, IDC_REPORT_TEXT);
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE; // the focus is set
    }
    case WM_SIZE:
        if (state)
            state->layout.apply();
        return TRUE;
    case WM_GETMINMAXINFO:
        if (state)
            state->layout.limit(*reinterpret_cast<MINMAXINFO*>(lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_COPY_REPORT:
            if (state)
                CopyToClipboard(dialog, state->text);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- The main dialog ---------------------------------------------------------------------

class MainDialog {
public:
    // Folders to list from the start: those dropped on the program's icon in Explorer arrive
    // as its arguments.
    explicit MainDialog(std::vector<std::wstring> initialFolders)
        : m_initialFolders(std::move(initialFolders)) {}

    ~MainDialog() { stopCounting(); }

    static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            reinterpret_cast<MainDialog*>(lParam)->init(dialog);
            return TRUE;
        }
        auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
        return self ? self->handle(message, wParam, lParam) : FALSE;
    }

private:
    void init(HWND dialog) {
        m_dialog = dialog;
        if (HMENU system = GetSystemMenu(dialog, FALSE)) {
            wchar_t about[128] = {};
            if (LoadStringW(Instance(), IDS_ABOUT, about, 128) > 0) {
                AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
                AppendMenuW(system, MF_STRING, IDM_ABOUT, about);
            }
        }
        SetIcons(dialog);
        CheckRadioButton(dialog, IDC_PROXY_INDEX, IDC_PAGED_INDEX, IDC_PROXY_INDEX);
        DragAcceptFiles(dialog, TRUE);
        m_layout.capture(dialog, IDC_FOLDER_LIST);
        for (const std::wstring& folder : m_initialFolders)
            addIfFolder(folder);
    }

    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUT) {
                showAbout();
                return TRUE;
            }
            return FALSE;
        case WM_HELP: // F1
            showAbout();
            return TRUE;
        case WM_SIZE:
            m_layout.apply();
            return TRUE;
        case WM_GETMINMAXINFO:
            m_layout.limit(*reinterpret_cast<MINMAXINFO*>(lParam));
            return TRUE;
        case WM_DROPFILES:
            addDropped(reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case WM_APP_COUNTED:
            takeCounts();
            return TRUE;
        case WM_DESTROY:
            // No count may post to the window once it is gone.
            stopCounting();
            return FALSE;
        case WM_COMMAND:
            return command(LOWORD(wParam), HIWORD(wParam));
        }
        return FALSE;
    }

    INT_PTR command(WORD id, WORD code) {
        switch (id) {
        case IDC_ADD_FOLDER:
            chooseFolder();
            return TRUE;
        case IDC_DELETE_FOLDER:
            deleteSelected();
            return TRUE;
        case IDC_FOLDER_LIST:
            if (code == LBN_SELCHANGE || code == LBN_SELCANCEL)
                updateDeleteButton();
            return TRUE;
        case IDC_PROXY_INDEX:
        case IDC_PAGED_INDEX:
            if (code == BN_CLICKED)
                updatePagedHint();
            return TRUE;
        case IDOK:
            exportFolders();
            return TRUE;
        case IDCANCEL:
            EndDialog(m_dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }

    HWND list() const { return GetDlgItem(m_dialog, IDC_FOLDER_LIST); }

    void showAbout() {
        DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), m_dialog, AboutProc, 0);
    }

    // The list box sorts the list itself. A folder already listed, under this or another
    // spelling ("A\", a link to A), is not added again: its entry is selected instead.
    void addFolder(const std::wstring& folder) {
        if (folder.empty())
            return;
        if (const std::optional<std::size_t> listed = brindle::FindSameFolder(folders(), folder)) {
            SendMessageW(list(), LB_SETCURSEL, static_cast<WPARAM>(*listed), 0);
            updateDeleteButton();
        } else {
            SendMessageW(list(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder.c_str()));
            countSubfolders(folder);
        }
        m_lastFolder = folder;
    }

    // Counts the folder's subfolders, no further than one past the hint's threshold, on a
    // thread of its own: a folder on a network share can take seconds to list. A folder
    // listed again was counted before.
    void countSubfolders(const std::wstring& folder) {
        if (m_subfolderCounts.count(folder)) {
            updatePagedHint();
            return;
        }
        m_subfolderCounts[folder] = std::nullopt;
        m_counters.emplace_back([this, folder] {
            const std::size_t counted = brindle::CountTileFolders(
                folder, brindle::kPagedIndexAdvisedAbove + 1, &m_stopCounting);
            {
                const std::lock_guard<std::mutex> lock(m_countedMutex);
                m_counted.emplace_back(folder, counted);
            }
            PostMessageW(m_dialog, WM_APP_COUNTED, 0, 0);
        });
    }

    void takeCounts() {
        std::vector<std::pair<std::wstring, std::size_t>> counted;
        {
            const std::lock_guard<std::mutex> lock(m_countedMutex);
            counted.swap(m_counted);
        }
        for (auto& [folder, subfolders] : counted)
            m_subfolderCounts[folder] = subfolders;
        updatePagedHint();
    }

    void stopCounting() {
        m_stopCounting = true;
        for (std::thread& counter : m_counters)
            if (counter.joinable())
                counter.join();
    }

    // Suggests the paged index while the proxy index is chosen for a listed folder of many
    // tiles.
    void updatePagedHint() {
        std::vector<std::filesystem::path> big;
        if (IsDlgButtonChecked(m_dialog, IDC_PROXY_INDEX) == BST_CHECKED) {
            for (const std::filesystem::path& folder : folders()) {
                const auto counted = m_subfolderCounts.find(folder.native());
                if (counted != m_subfolderCounts.end() && counted->second &&
                    *counted->second > brindle::kPagedIndexAdvisedAbove)
                    big.push_back(folder);
            }
        }
        HWND hint = GetDlgItem(m_dialog, IDC_INDEX_HINT);
        if (!big.empty())
            SetWindowTextW(hint, brindle::win32::PagedIndexHint(big).c_str());
        ShowWindow(hint, big.empty() ? SW_HIDE : SW_SHOW);
    }

    static int CALLBACK browseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
        // Opens beside the folder added last.
        if (message == BFFM_INITIALIZED && data)
            SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
        return 0;
    }

    void chooseFolder() {
        const std::wstring title = T("请选择目录：");
        BROWSEINFOW browse{};
        browse.hwndOwner = m_dialog;
        browse.lpszTitle = title.c_str();
        browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        browse.lpfn = &MainDialog::browseCallback;
        browse.lParam = m_lastFolder.empty() ? 0 : reinterpret_cast<LPARAM>(m_lastFolder.c_str());
        PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
        if (!chosen)
            return;
        // Long paths first; the older call is limited to MAX_PATH.
        std::wstring path(32768, L'\0');
        if (!SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()),
                                   GPFIDL_DEFAULT)) {
            path.assign(MAX_PATH, L'\0');
            if (!SHGetPathFromIDListW(chosen, path.data()))
                path.clear();
        }
        CoTaskMemFree(chosen);
        path.resize(wcslen(path.c_str()));
        addFolder(path);
    }

    void addDropped(HDROP drop) {
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            const UINT length = DragQueryFileW(drop, i, nullptr, 0);
            std::wstring path(length + 1, L'\0');
            DragQueryFileW(drop, i, path.data(), length + 1);
            path.resize(length);
            addIfFolder(path);
        }
        DragFinish(drop);
    }

    // Files among dropped or named items are ignored.
    void addIfFolder(const std::wstring& path) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            addFolder(path);
    }

    void deleteSelected() {
        const LRESULT selected = SendMessageW(list(), LB_GETCURSEL, 0, 0);
        if (selected != LB_ERR)
            SendMessageW(list(), LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
        updateDeleteButton();
        updatePagedHint();
    }

    void updateDeleteButton() {
        const bool selected = SendMessageW(list(), LB_GETCURSEL, 0, 0) != LB_ERR;
        HWND button = GetDlgItem(m_dialog, IDC_DELETE_FOLDER);
        // Disabling the focused button would leave the keyboard focus nowhere.
        if (!selected && GetFocus() == button)
            SetFocus(list());
        EnableWindow(button, selected);
    }

    std::vector<std::filesystem::path> folders() const {
        std::vector<std::filesystem::path> result;
        const LRESULT count = SendMessageW(list(), LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            const LRESULT length = SendMessageW(list(), LB_GETTEXTLEN, i, 0);
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            SendMessageW(list(), LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<std::size_t>(length));
            result.emplace_back(text);
        }
        return result;
    }

    void exportFolders() {
        // An empty list runs too: it writes nothing and ends in "导出成功", as the dialog
        // always has.
        const std::vector<std::filesystem::path> listed = folders();
        const brindle::IndexKind index =
            IsDlgButtonChecked(m_dialog, IDC_PAGED_INDEX) == BST_CHECKED
                ? brindle::IndexKind::Paged
                : brindle::IndexKind::Proxy;
        ExportRun run(listed, index);
        const std::optional<brindle::ExportReport> report = run.runUnder(m_dialog);
        if (!report) {
            Message(m_dialog, run.failure(), MB_OK | MB_ICONERROR);
            return;
        }
        present(*report);
    }

    void present(const brindle::ExportReport& report) {
        if (report.spotless()) {
            Message(m_dialog,
                    T("导出成功") + L"\n\n" +
                        brindle::win32::WideFromUtf8(brindle::wording::SuccessDetails(report)),
                    MB_OK);
            EndDialog(m_dialog, IDOK);
            return;
        }
        ResultsState results{brindle::win32::ReportPlainText(report), {}};
        DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_RESULTS), m_dialog, ResultsProc,
                        reinterpret_cast<LPARAM>(&results));
        // Every index written: the job is done, whatever was left out. Otherwise the list
        // stays as it was, so the user can remove the cause and press OK again.
        if (report.succeeded() && !report.cancelled)
            EndDialog(m_dialog, IDOK);
    }

    const std::vector<std::wstring> m_initialFolders;
    HWND m_dialog = nullptr;
    Layout m_layout;
    std::wstring m_lastFolder; // for this session only
    // Each listed folder's subfolders, counted as far as the hint needs; empty while the
    // count runs. Counts are handed over through m_counted.
    std::map<std::wstring, std::optional<std::size_t>> m_subfolderCounts;
    std::vector<std::thread> m_counters;
    std::atomic<bool> m_stopCounting{false};
    std::mutex m_countedMutex;
    std::vector<std::pair<std::wstring, std::size_t>> m_counted;
};

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The shell's folder browser wants a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::vector<std::wstring> arguments;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments.emplace_back(argv[i]);
        LocalFree(argv);
    }
    MainDialog dialog(std::move(arguments));
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_BRINDLE_DIALOG), nullptr,
                                           &MainDialog::proc, reinterpret_cast<LPARAM>(&dialog));
    if (SUCCEEDED(com))
        CoUninitialize();
    return result == IDOK ? 0 : 1;
}
