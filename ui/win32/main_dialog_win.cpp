#include "main_dialog_win.h"

#include "about_dialog_win.h"
#include "dialog_common_win.h"
#include "dialog_settings_win.h"
#include "export_progress_win.h"
#include "report_text_win.h"
#include "resource.h"
#include "results_dialog_win.h"

#include "export/export_run.h"
#include "export/scan/block_layout.h"
#include "export/scan/folder_identity.h"
#include "export/scan/subfolder_scan.h"
#include "wording/report_wording.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brindle::win32 {
namespace {

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
    // Opens at the folder given, when there is one.
    if (message == BFFM_INITIALIZED && data)
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

// The shell's folder chooser, titled `title`, opening at `start` when it is not empty; the
// folder picked, empty when the user changed their mind.
std::wstring BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start) {
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    browse.lpfn = &BrowseCallback;
    browse.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (!chosen)
        return {};
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
    return path;
}

// The text of a control, whole.
std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Posted to the main dialog: a count of a listed folder's subfolders waits in its queue.
constexpr UINT WM_APP_COUNTED = WM_APP + 4;

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
        CheckRadioButton(dialog, IDC_PROXY_INDEX, IDC_OVERVIEW_INDEX, IDC_PROXY_INDEX);
        SendDlgItemMessageW(dialog, IDC_TILESET_FOLDER, EM_SETLIMITTEXT, 32767, 0);
        SetDlgItemTextW(dialog, IDC_TILESET_FOLDER, RememberedTilesetFolder().c_str());
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
        case IDC_OVERVIEW_INDEX:
            if (code == BN_CLICKED)
                updatePagedHint();
            return TRUE;
        case IDC_TILESET_CHECK:
            if (code == BN_CLICKED)
                followTilesetChoice();
            return TRUE;
        case IDC_TILESET_BROWSE:
            chooseTilesetFolder();
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

    void showAbout() { ShowAbout(m_dialog); }

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

    // Suggests the overview (or paged) index while the proxy index is chosen for a listed
    // folder of many tiles.
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
            SetWindowTextW(hint, PagedIndexHint(big).c_str());
        ShowWindow(hint, big.empty() ? SW_HIDE : SW_SHOW);
    }

    void chooseFolder() { addFolder(BrowseForFolder(m_dialog, T("请选择目录："), m_lastFolder)); }

    // 3D Tiles are converted from the overview index: while the box is checked the overview
    // is the index written, and the other kinds are greyed; the kind chosen before comes back
    // when it is cleared.
    void followTilesetChoice() {
        const bool tilesets = IsDlgButtonChecked(m_dialog, IDC_TILESET_CHECK) == BST_CHECKED;
        if (tilesets) {
            m_indexBeforeTilesets =
                IsDlgButtonChecked(m_dialog, IDC_PROXY_INDEX) == BST_CHECKED   ? IDC_PROXY_INDEX
                : IsDlgButtonChecked(m_dialog, IDC_PAGED_INDEX) == BST_CHECKED ? IDC_PAGED_INDEX
                                                                               : IDC_OVERVIEW_INDEX;
            CheckRadioButton(m_dialog, IDC_PROXY_INDEX, IDC_OVERVIEW_INDEX, IDC_OVERVIEW_INDEX);
        } else if (m_indexBeforeTilesets) {
            CheckRadioButton(m_dialog, IDC_PROXY_INDEX, IDC_OVERVIEW_INDEX, m_indexBeforeTilesets);
        }
        for (int kind : {IDC_PROXY_INDEX, IDC_PAGED_INDEX, IDC_OVERVIEW_INDEX})
            EnableWindow(GetDlgItem(m_dialog, kind), !tilesets);
        EnableWindow(GetDlgItem(m_dialog, IDC_TILESET_FOLDER), tilesets);
        EnableWindow(GetDlgItem(m_dialog, IDC_TILESET_BROWSE), tilesets);
        updatePagedHint();
    }

    void chooseTilesetFolder() {
        const std::wstring chosen =
            BrowseForFolder(m_dialog, T("选择 3D Tiles 的输出目录："), tilesetFolderText());
        if (!chosen.empty())
            SetDlgItemTextW(m_dialog, IDC_TILESET_FOLDER, chosen.c_str());
    }

    // The folder as typed or chosen, without the spaces around it.
    std::wstring tilesetFolderText() const {
        std::wstring text = ControlText(GetDlgItem(m_dialog, IDC_TILESET_FOLDER));
        const std::size_t first = text.find_first_not_of(L" \t");
        if (first == std::wstring::npos)
            return {};
        return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
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
        std::optional<std::filesystem::path> tilesets;
        if (IsDlgButtonChecked(m_dialog, IDC_TILESET_CHECK) == BST_CHECKED) {
            const std::wstring folder = tilesetFolderText();
            if (folder.empty()) {
                Message(m_dialog, T("请选择 3D Tiles 的输出目录。"), MB_OK | MB_ICONWARNING);
                SetFocus(GetDlgItem(m_dialog, IDC_TILESET_FOLDER));
                return;
            }
            RememberTilesetFolder(folder);
            tilesets = folder;
        }
        const std::vector<std::filesystem::path> listed = folders();
        const RunOutcome run =
            RunExportUnderProgress(m_dialog, listed, chosenIndex(), std::move(tilesets));
        if (!run.report) {
            Message(m_dialog, run.failure, MB_OK | MB_ICONERROR);
            return;
        }
        present(*run.report, run.took);
    }

    brindle::IndexKind chosenIndex() const {
        if (IsDlgButtonChecked(m_dialog, IDC_OVERVIEW_INDEX) == BST_CHECKED)
            return brindle::IndexKind::Overview;
        if (IsDlgButtonChecked(m_dialog, IDC_PAGED_INDEX) == BST_CHECKED)
            return brindle::IndexKind::Paged;
        return brindle::IndexKind::Proxy;
    }

    void present(const brindle::ExportReport& report, std::chrono::milliseconds took) {
        if (brindle::wording::NothingToTell(report)) {
            Message(m_dialog,
                    T("导出成功") + L"\n\n" +
                        WideFromUtf8(brindle::wording::SuccessDetails(report, took)),
                    MB_OK);
            EndDialog(m_dialog, IDOK);
            return;
        }
        ShowResults(m_dialog, ReportPlainText(report), FirstPictureOf(report));
        // Every index written: the job is done, whatever was left out. Otherwise the list
        // stays as it was, so the user can remove the cause and press OK again.
        if (report.succeeded() && !report.cancelled)
            EndDialog(m_dialog, IDOK);
    }

    const std::vector<std::wstring> m_initialFolders;
    HWND m_dialog = nullptr;
    Layout m_layout;
    std::wstring m_lastFolder; // for this session only
    // The index kind's button checked before the 3D Tiles box was; 0 before it ever was.
    int m_indexBeforeTilesets = 0;
    // Each listed folder's subfolders, counted as far as the hint needs; empty while the
    // count runs. Counts are handed over through m_counted.
    std::map<std::wstring, std::optional<std::size_t>> m_subfolderCounts;
    std::vector<std::thread> m_counters;
    std::atomic<bool> m_stopCounting{false};
    std::mutex m_countedMutex;
    std::vector<std::pair<std::wstring, std::size_t>> m_counted;
};

} // namespace

INT_PTR ShowMainDialog(HINSTANCE instance, std::vector<std::wstring> initialFolders) {
    MainDialog dialog(std::move(initialFolders));
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_BRINDLE_DIALOG), nullptr,
                           &MainDialog::proc, reinterpret_cast<LPARAM>(&dialog));
}

} // namespace brindle::win32
