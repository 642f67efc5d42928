// The Index Status window (one row per indexed drive or folder, with Rescan,
// Add folder and Remove folder), the summary in the status bar, adding a folder
// to the index and the Excluded folders dialog.
#include "app/index_status.h"

#include <commctrl.h>
#include <shobjidl.h>
#include <uxtheme.h>

#include <cwctype>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/folder_lists.h"
#include "app/res/resource.h"
#include "app/result_text.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/window_kit.h"

HWND gIndexStatusWindow = nullptr;

namespace {

constexpr int kIdRescan = 201;
constexpr int kIdAddFolder = 202;
constexpr int kIdRemoveFolder = 203;

HWND gStatusList = nullptr;
HWND gStatusFocus = nullptr;  // the control that had the focus when the window was left

// What a row stands for. Volumes are found again by slot and root when a
// button acts: a refresh of the volumes may have freed the one shown.
struct StatusRow {
    int slot = 0;
    std::wstring root;
    std::wstring name;
    bool addedFolder = false;
};
std::vector<StatusRow> gRows;

// Busy volumes name their work; else how many are live.
std::wstring SummaryText(const std::vector<VolumeFacts>& volumes) {
    if (volumes.empty()) return L"No drives to index yet";
    std::wstring busy;
    int live = 0;
    for (const VolumeFacts& volume : volumes) {
        if (ov::IsBusyPhase(volume.phase)) busy += (busy.empty() ? L"" : L"   ") + volume.name + L" " + volume.status;
        if (volume.live) ++live;
    }
    const int total = static_cast<int>(volumes.size());
    if (!busy.empty()) {
        const std::wstring problem = ReadSavedIndexProblem();
        return problem.empty() ? busy : problem + L"   " + busy;
    }
    if (live == total)
        return FormatString(L"Up to date — watching %d drive%ls for changes", live, live == 1 ? L"" : L"s");
    return FormatString(L"%d of %d drives live (see Index > Index Status)", live, total);
}

void Inform(HWND owner, const wchar_t* text) {
    MessageBoxW(owner, text, L"Orvane", MB_ICONINFORMATION | MB_OK);
}

// The folder picker; empty when it failed or was cancelled.
std::wstring PickFolder(HWND owner, const wchar_t* title) {
    std::wstring path;
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        return path;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    dialog->SetTitle(title);
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        PWSTR name = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) && name) {
            path = name;
            CoTaskMemFree(name);
        }
        item->Release();
    }
    dialog->Release();
    return path;
}

const wchar_t* HowIndexed(ov::VolumeKind kind) {
    switch (kind) {
        case ov::VolumeKind::FileTable:
            return L"NTFS file table";
        case ov::VolumeKind::Folders:
            return L"Folder scan";
        default:
            return L"…";
    }
}

const wchar_t* LiveText(const VolumeFacts& volume) {
    if (!volume.live) return L"No";
    return volume.kind == ov::VolumeKind::FileTable ? L"Yes (journal)" : L"Yes (watching)";
}

void SetCell(int row, int column, const std::wstring& text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(gStatusList, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void AddColumn(int index, const wchar_t* title, int width, int format) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = Dip(width);
    column.pszText = const_cast<wchar_t*>(title);
    column.iSubItem = index;
    SendMessageW(gStatusList, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

HWND AddButton(HWND parent, int id, const wchar_t* caption, DWORD style) {
    HWND button = CreateWindowExW(0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0, 0, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
    return button;
}

void LayOut(HWND window, int width, int height) {
    MoveWindow(gStatusList, Dip(10), Dip(10), width - Dip(20), height - Dip(60), TRUE);
    const int ids[] = {kIdRescan, kIdAddFolder, kIdRemoveFolder};
    for (int i = 0; i < 3; ++i) {
        MoveWindow(GetDlgItem(window, ids[i]), Dip(10 + 150 * i), height - Dip(40), Dip(140), Dip(30), TRUE);
    }
    MoveWindow(GetDlgItem(window, IDOK), width - Dip(110), height - Dip(40), Dip(100), Dip(30), TRUE);
}

int SelectedRow() {
    const int row =
        static_cast<int>(SendMessageW(gStatusList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return row >= 0 && row < static_cast<int>(gRows.size()) ? row : -1;
}

void RemoveFolder(const StatusRow& row) {
    std::vector<std::wstring> folders;
    for (const std::wstring& folder : gSettings.indexedFolders) {
        if (!SameFolder(folder, row.name)) folders.push_back(folder);
    }
    StoreIndexedFolders(folders);
    SetIndexedFolders(gSettings.indexedFolders);
}

void OnStatusCommand(HWND window, int id) {
    const int selected = SelectedRow();
    switch (id) {
        case IDOK:
        case IDCANCEL:
            DestroyWindow(window);
            return;
        case kIdRescan:
            if (selected < 0) {
                Inform(window, L"Click a drive or folder in the list first.");
                return;
            }
            RescanVolumeByRoot(gRows[selected].slot, gRows[selected].root);
            FillIndexStatusList();
            return;
        case kIdAddFolder:
            AddIndexedFolder(window);
            FillIndexStatusList();
            return;
        case kIdRemoveFolder:
            if (selected < 0 || !gRows[selected].addedFolder) {
                Inform(window,
                       L"Click one of the folders you added first. (Whole drives are indexed automatically; to leave "
                       L"one out of results, use Excluded Folders.)");
                return;
            }
            RemoveFolder(gRows[selected]);
            FillIndexStatusList();
            return;
        default:
            return;
    }
}

std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void StoreExclusionsFrom(HWND edit) {
    std::vector<std::wstring> folders;
    for (std::wstring& line : SplitLines(ControlText(edit))) folders.push_back(TrimFolderPath(std::move(line)));
    StoreExcludedFolders(folders);
    SetExcludedFolders(gSettings.excludedFolders, true);
    RequestSearch(true);
}

}  // namespace

void ShowIndexStatus() {
    if (gIndexStatusWindow) {
        SetForegroundWindow(gIndexStatusWindow);
        FillIndexStatusList();
        return;
    }
    const RECT main = MainWindowFrame();
    const int width = Dip(1000);
    const int spare = (main.right - main.left) - width;
    const RECT place = InsideWorkArea(main.left + (spare > 1 ? spare / 2 : 0), main.top + Dip(80), width, Dip(380));
    HWND window = CreateWindowExW(
        WS_EX_DLGMODALFRAME, L"OVStatus", L"Orvane - Index Status", WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, place.left,
        place.top, place.right - place.left, place.bottom - place.top, gMain, nullptr, gInstance, nullptr);
    if (!window) return;
    gIndexStatusWindow = window;
    // A tab stop, so Tab goes round the list and the buttons.
    gStatusList = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                  0, 0, 0, 0, window, nullptr, gInstance, nullptr);
    const DWORD listStyles = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER;
    SendMessageW(gStatusList, LVM_SETEXTENDEDLISTVIEWSTYLE, listStyles, listStyles);
    SetWindowTheme(gStatusList, L"Explorer", nullptr);
    SendMessageW(gStatusList, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
    const struct {
        const wchar_t* title;
        int width;
        int format;
    } columns[] = {{L"Drive / folder", 150, LVCFMT_LEFT}, {L"Label", 110, LVCFMT_LEFT},
                   {L"File system", 80, LVCFMT_LEFT},     {L"How it's indexed", 120, LVCFMT_LEFT},
                   {L"Live", 100, LVCFMT_LEFT},           {L"Files", 90, LVCFMT_RIGHT},
                   {L"Folders", 80, LVCFMT_RIGHT},        {L"Status", 500, LVCFMT_LEFT}};
    for (int i = 0; i < 8; ++i) AddColumn(i, columns[i].title, columns[i].width, columns[i].format);

    AddControlTooltip(AddButton(window, kIdRescan, L"Rescan", 0),
                      L"Throw away this drive's (or folder's) part of the index and build it again from scratch. "
                      L"Searching keeps working meanwhile.");
    AddControlTooltip(AddButton(window, kIdAddFolder, L"Add folder…", 0),
                      L"Index an extra folder, such as a network share (\\\\server\\share). It's scanned, then "
                      L"watched for changes.");
    AddControlTooltip(AddButton(window, kIdRemoveFolder, L"Remove folder", 0),
                      L"Stop indexing the selected folder (one you added). Whole drives are always indexed - use "
                      L"Excluded Folders to hide one from results.");
    AddButton(window, IDOK, L"Close", BS_DEFPUSHBUTTON);

    RECT client;
    GetClientRect(window, &client);
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    FillIndexStatusList();
    ShowWindow(window, SW_SHOW);
    SetFocus(gStatusList);
}

void FillIndexStatusList() {
    if (!gIndexStatusWindow || !gStatusList) return;
    const int selected =
        static_cast<int>(SendMessageW(gStatusList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    SendMessageW(gStatusList, LVM_DELETEALLITEMS, 0, 0);
    gRows.clear();
    // A copy taken under the index lock, status texts under the status mutex.
    const std::vector<VolumeFacts> volumes = SnapshotVolumes();
    for (const VolumeFacts& volume : volumes) {
        const int row = static_cast<int>(gRows.size());
        gRows.push_back({volume.slot, volume.root, volume.name, volume.addedFolder});
        const std::wstring shown = volume.addedFolder ? volume.name : volume.name + L"\\";
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(shown.c_str());
        SendMessageW(gStatusList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        SetCell(row, 1, volume.label);
        SetCell(row, 2, volume.addedFolder ? L"(folder)" : volume.fileSystem);
        SetCell(row, 3, HowIndexed(volume.kind));
        SetCell(row, 4, LiveText(volume));
        SetCell(row, 5, FormatThousands(volume.files));
        SetCell(row, 6, FormatThousands(volume.folders));
        SetCell(row, 7, volume.status);
    }
    if (selected >= 0 && selected < static_cast<int>(gRows.size())) {
        LVITEMW state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(gStatusList, LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&state));
    }
}

void UpdateIndexSummary() {
    if (!EngineMade()) return;
    SetStatusState(SummaryText(SnapshotVolumes()));
    FillIndexStatusList();
    RefreshRibbon();
}

void AddIndexedFolder(HWND owner) {
    std::wstring path = PickFolder(owner, L"Choose a folder or network share to add to the index");
    if (path.empty()) return;
    path = TrimFolderPath(std::move(path));
    for (const std::wstring& folder : gSettings.indexedFolders) {
        if (SameFolder(folder, path)) {
            Inform(owner, L"That folder is already indexed.");
            return;
        }
    }
    if (path.size() > 1 && path[1] == L':' && IndexesDriveLetter(path[0])) {
        const std::wstring text =
            FormatString(L"Drive %lc: is already indexed, so everything in that folder is already searchable.",
                         static_cast<wint_t>(std::towupper(static_cast<wint_t>(path[0]))));
        Inform(owner, text.c_str());
        return;
    }
    std::vector<std::wstring> folders = gSettings.indexedFolders;
    folders.push_back(path);
    StoreIndexedFolders(folders);
    SetIndexedFolders(gSettings.indexedFolders);
    SetStatusText(L"Adding " + path + L" to the index…");
}

LRESULT CALLBACK IndexStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (gStatusList) LayOut(window, LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_COMMAND:
            OnStatusCommand(window, LOWORD(wParam));
            return 0;
        case WM_ACTIVATE:
            // As a dialog does: the focus leaves with the window and comes back where it was.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window, focus)) gStatusFocus = focus;
                return 0;
            }
            if (HIWORD(wParam) == 0 && gStatusList) {
                SetFocus(gStatusFocus && IsChild(window, gStatusFocus) ? gStatusFocus : gStatusList);
            }
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            gIndexStatusWindow = nullptr;
            gStatusList = nullptr;
            gStatusFocus = nullptr;
            gRows.clear();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

INT_PTR CALLBACK ExcludedFoldersDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, L"Orvane - Excluded folders");
        SetDlgItemTextW(dialog, IDC_EXCLUDED_NOTE,
                        L"Folders listed here (one per line) never show in results - nor does anything inside them. "
                        L"Nothing is deleted. Example:  C:\\Windows\\WinSxS");
        // Stored with bare line feeds, which an edit control would run together.
        SetDlgItemTextW(dialog, IDC_EXCLUDED_LIST, WithCrLf(JoinLines(gSettings.excludedFolders)).c_str());
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    HWND edit = GetDlgItem(dialog, IDC_EXCLUDED_LIST);
    switch (LOWORD(wParam)) {
        case IDC_EXCLUDED_ADD: {
            const std::wstring path = PickFolder(dialog, L"Choose a folder to leave out of results");
            if (path.empty()) return TRUE;
            std::wstring text = ControlText(edit);
            if (!text.empty() && text.back() != L'\n') text += L"\r\n";
            text += path + L"\r\n";
            SetWindowTextW(edit, text.c_str());
            return TRUE;
        }
        case IDOK:
            StoreExclusionsFrom(edit);
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 2);
            return TRUE;
        default:
            return FALSE;
    }
}
