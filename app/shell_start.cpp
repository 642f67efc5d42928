#include "app/shell_start.h"

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>

#include "app/action_rules.h"
#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/window_kit.h"

namespace {

// Holds one reference of a COM interface and gives it back.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (pointer) pointer->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&pointer); }
    T* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
    T* Take() {
        T* taken = pointer;
        pointer = nullptr;
        return taken;
    }

private:
    T* pointer = nullptr;
};

// The shell dispatch of the desktop's own view, which lives in the shell's
// process; null when there is no desktop shell.
IShellDispatch2* DesktopShellDispatch() {
    ComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Out())))
        return nullptr;
    VARIANT desktop;
    VariantInit(&desktop);
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    VARIANT none;
    VariantInit(&none);
    long window = 0;
    ComRef<IDispatch> found;
    // S_FALSE: no such window.
    if (windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              reinterpret_cast<IDispatch**>(found.Out())) != S_OK ||
        !found)
        return nullptr;
    ComRef<IServiceProvider> services;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (FAILED(found->QueryInterface(IID_IServiceProvider, services.Out())) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out())) ||
        FAILED(browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.Out()))) || !view ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out())) || !background ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.Out())) ||
        FAILED(folderView->get_Application(reinterpret_cast<IDispatch**>(application.Out()))) || !application ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.Out())))
        return nullptr;
    return shell.Take();
}

VARIANT TextVariant(const wchar_t* text) {
    VARIANT value;
    VariantInit(&value);
    if (text) {
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(text);
    }
    return value;
}

HRESULT ShellDispatchStart(const ShellStart& start) {
    IShellDispatch2* shell = DesktopShellDispatch();
    if (!shell) return kNoDesktopShell;
    BSTR file = SysAllocString(start.file.c_str());
    VARIANT parameters = TextVariant(start.parameters.c_str());
    VARIANT folder = TextVariant(start.folder.c_str());
    VARIANT verb = TextVariant(start.verb);  // empty: the default verb
    VARIANT show;
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = start.show;
    const HRESULT done = file ? shell->ShellExecute(file, parameters, folder, verb, show) : E_OUTOFMEMORY;
    SysFreeString(file);
    VariantClear(&parameters);
    VariantClear(&folder);
    VariantClear(&verb);
    shell->Release();
    return done;
}

DesktopShellStart gDesktopShell = ShellDispatchStart;
ShellExecuteExCall gShellExecute = ShellExecuteExW;

const wchar_t* OrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// Verbs that start a program rather than act inside this process.
bool VerbStartsProgram(const wchar_t* verb) {
    for (const wchar_t* starting : {L"open", L"edit", L"print", L"openas", L"opennewwindow", L"explore"}) {
        if (_wcsicmp(verb, starting) == 0) return true;
    }
    return false;
}

// A start that failed adds "name: reason"; a refused prompt adds nothing.
void NoteFailure(StartResult result, DWORD error, const std::wstring& name, std::vector<std::wstring>& failures) {
    if (result == StartResult::Failed || result == StartResult::NoAssociation)
        failures.push_back(name + L": " + SystemErrorText(error));
}

}  // namespace

StartResult StartForUser(const ShellStart& start, DWORD* error) {
    if (error) *error = ERROR_SUCCESS;
    if (ProcessRunsElevated()) {
        const HRESULT handed = gDesktopShell(start);
        if (SUCCEEDED(handed)) return StartResult::Started;
        if (handed != kNoDesktopShell) {
            if (error) *error = HRESULT_FACILITY(handed) == FACILITY_WIN32 ? HRESULT_CODE(handed) : handed;
            return StartResult::Failed;
        }
        Log(L"no desktop shell to start %ls as the signed-in user: it starts as administrator", start.file.c_str());
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = gMain;
    info.lpVerb = start.verb;
    info.lpFile = start.file.c_str();
    info.lpParameters = OrNull(start.parameters);
    info.lpDirectory = OrNull(start.folder);
    info.nShow = start.show;
    if (gShellExecute(&info)) return StartResult::Started;
    const DWORD code = GetLastError();
    if (error) *error = code;
    if (code == ERROR_NO_ASSOCIATION || reinterpret_cast<INT_PTR>(info.hInstApp) == SE_ERR_NOASSOC)
        return StartResult::NoAssociation;
    return code == ERROR_CANCELLED ? StartResult::Cancelled : StartResult::Failed;
}

void OpenForUser(const std::wstring& path, std::vector<std::wstring>& failures) {
    ShellStart start;
    start.file = path;
    start.folder = FolderOfPath(path);
    DWORD error = 0;
    StartResult result = StartForUser(start, &error);
    if (result == StartResult::NoAssociation) {
        ShellStart openWith;
        openWith.verb = L"open";
        openWith.file = L"rundll32.exe";
        openWith.parameters = L"shell32.dll,OpenAs_RunDLL " + path;
        result = StartForUser(openWith, &error);
    }
    NoteFailure(result, error, path, failures);
}

void StartOrTell(const ShellStart& start, const std::wstring& name) {
    DWORD error = 0;
    std::vector<std::wstring> failures;
    NoteFailure(StartForUser(start, &error), error, name, failures);
    ShowOpenFailures(failures);
}

void ShowOpenFailures(const std::vector<std::wstring>& failures) {
    if (failures.empty()) return;
    constexpr size_t kListed = 10;
    std::wstring text = failures.size() == 1
                            ? std::wstring(L"Orvane couldn't open this item:\n\n")
                            : FormatString(L"Orvane couldn't open %d items:\n\n", static_cast<int>(failures.size()));
    for (size_t i = 0; i < failures.size() && i < kListed; ++i) text += failures[i] + L"\n";
    if (failures.size() > kListed)
        text += FormatString(L"...and %d more.\n", static_cast<int>(failures.size() - kListed));
    MessageBoxW(gMain, text.c_str(), L"Orvane", MB_ICONWARNING | MB_OK);
}

bool StartVerbForUser(IContextMenu* menu, UINT verbOffset, const std::vector<std::wstring>& paths) {
    if (!menu || !ProcessRunsElevated()) return false;
    wchar_t verb[64] = {};
    if (FAILED(menu->GetCommandString(verbOffset, GCS_VERBW, nullptr, reinterpret_cast<char*>(verb), 64)) ||
        !VerbStartsProgram(verb))
        return false;
    std::vector<std::wstring> failures;
    for (const std::wstring& path : paths) {
        ShellStart start;
        start.verb = verb;
        start.file = path;
        start.folder = FolderOfPath(path);
        DWORD error = 0;
        NoteFailure(StartForUser(start, &error), error, path, failures);
    }
    ShowOpenFailures(failures);
    return true;
}

bool StartBeforeExit(const wchar_t* verb, const std::wstring& file, const std::wstring& parameters, HWND owner,
                     int show) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpParameters = OrNull(parameters);
    info.nShow = show;
    return gShellExecute(&info) != FALSE;
}

std::wstring SystemErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring line = length && text ? std::wstring(text, length) : FormatString(L"Windows error %lu.", error);
    if (text) LocalFree(text);
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r' || line.back() == L' ')) line.pop_back();
    for (wchar_t& c : line) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    return line;
}

void SetDesktopShellForTesting(DesktopShellStart start) {
    gDesktopShell = start ? start : ShellDispatchStart;
}

void SetShellExecuteForTesting(ShellExecuteExCall call) {
    gShellExecute = call ? call : ShellExecuteExW;
}
