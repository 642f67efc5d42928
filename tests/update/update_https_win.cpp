// The updater against a release host on this machine (https_release_host.py):
// the HTTPS client's failures, the download's bounds, checks and cancel, and
// the update test program's check, bar and boxes. The host's authority is
// trusted in this test's own prefix; certificates are really checked. Also
// the install mode read from the installer's entries in that prefix.
#include <windows.h>

#include <gtest/gtest.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/window_kit.h"
#include "index/text.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/orvane_fixture.h"
#include "update/download_rules.h"
#include "update/install.h"
#include "update/install_step.h"
#include "update/update_check.h"
#include "update/update_download.h"

namespace {

using ov::gui::Patient;

std::wstring Env(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return L"";
    return std::wstring(value, value + strlen(value));
}

std::wstring Text(const char16_t* text) {
    return std::wstring(text, text + std::char_traits<char16_t>::length(text));
}

std::vector<BYTE> AuthorityDer() {
    const std::string hex = std::getenv("OV_TEST_CA_HEX") ? std::getenv("OV_TEST_CA_HEX") : "";
    std::vector<BYTE> der;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        der.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return der;
}

// A process reads the trusted roots once, when it first opens them (and
// opening them to add one is such a first time); so a child of this program
// adds the authority before anything here asks over HTTPS.
const bool kAddAuthorityAndExit = [] {
    if (!std::getenv("OV_TEST_ADD_AUTHORITY")) return false;
    const std::vector<BYTE> der = AuthorityDer();
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    const bool added =
        root && !der.empty() &&
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (root) CertCloseStore(root, 0);
    ExitProcess(added ? 0 : 1);
}();

bool TrustAuthorityInAChild() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\"";
    SetEnvironmentVariableW(L"OV_TEST_ADD_AUTHORITY", L"1");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const bool started =
        CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableW(L"OV_TEST_ADD_AUTHORITY", nullptr);
    if (!started) return false;
    WaitForSingleObject(child.hProcess, Patient(30000));
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return code == 0;
}

class UpdateHttps : public ::testing::Test {
protected:
    static void SetUpTestSuite() { trusted = trusted || TrustAuthorityInAChild(); }

    // The prefix outlives the run; the authority does not.
    static void TearDownTestSuite() {
        const std::vector<BYTE> der = AuthorityDer();
        HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
        PCCERT_CONTEXT wanted =
            der.empty() ? nullptr
                        : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        PCCERT_CONTEXT found =
            root && wanted ? CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr)
                           : nullptr;
        if (found) CertDeleteCertificateFromStore(found);
        if (wanted) CertFreeCertificateContext(wanted);
        if (root) CertCloseStore(root, 0);
    }

    void SetUp() override {
        if (Env("OV_TEST_HTTPS_BASE").empty()) GTEST_SKIP() << "needs https_release_host.py around it";
        ASSERT_TRUE(trusted) << "could not trust the test authority in this prefix";
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        tempDir = temp;
    }

    // GET into memory (256 KiB cap); the error text when it fails.
    static std::wstring Fetch(const std::wstring& url, std::string* body = nullptr) {
        std::string ignored;
        wchar_t error[400] = {};
        HttpCancel cancel;
        if (HttpGet(url.c_str(), body ? body : &ignored, kManifestMaxBytes, nullptr, 0, cancel, nullptr, error, 400))
            return L"";
        return error[0] ? error : L"(failed without a text)";
    }

    UpdateInfo Known(const wchar_t* version = L"1.0.1") const {
        UpdateInfo info;
        wcscpy(info.version, version);
        wcscpy(info.exe, (base + L"/file/orvane.exe").c_str());
        wcscpy(info.sha256, Env("OV_TEST_PROGRAM_SHA256").c_str());
        info.size = static_cast<uint32_t>(std::stoul(Env("OV_TEST_PROGRAM_SIZE")));
        return info;
    }

    static inline bool trusted = false;
    const std::wstring base = Env("OV_TEST_HTTPS_BASE");
    std::wstring tempDir;
};

TEST_F(UpdateHttps, EveryFailureGivesItsText) {
    std::string body;
    ASSERT_EQ(Fetch(base + L"/file/short", &body), L"");  // the authority is trusted: a good fetch works
    EXPECT_EQ(body.size(), 19999u);
    const std::wstring unreachable = L"No internet connection, or localhost couldn't be reached (error ";
    const struct {
        std::wstring url;
        std::wstring text;  // the whole text, or its start when it ends with "(error "
    } rows[] = {
        {base + L"/status/404", L"The update server answered with error 404."},
        {base + L"/big.json", L"The update information is too large."},
        {Env("OV_TEST_UNTRUSTED_BASE") + L"/file/short", unreachable},
        {Env("OV_TEST_CLOSED_BASE") + L"/file/short", unreachable},
        {L"http://localhost/file/short", L"Only secure (https://) update addresses are accepted."},
        {L"ftp://localhost/file/short", L"Only secure (https://) update addresses are accepted."},
        {L"https://", L"Bad update address."},
    };
    for (const auto& row : rows) {
        const std::wstring error = Fetch(row.url);
        EXPECT_EQ(error.substr(0, row.text.size()), row.text) << "url " << std::string(row.url.begin(), row.url.end());
    }
}

TEST_F(UpdateHttps, ASenderThatKeepsGoingIsCutOffAtTheSize) {
    const std::wstring path = tempDir + L"ov-endless.bin";
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    wchar_t error[600] = {};
    HttpCancel cancel;
    const bool ok = HttpGet((base + L"/endless").c_str(), nullptr, 0, file, 100000, cancel, nullptr, error, 600);
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::wstring(error), Text(kTextWrongSize));
    EXPECT_LE(size.QuadPart, 100000);
}

std::vector<int> gPercents;
HttpCancel gCancel;
void RecordPercent(int percent) {
    gPercents.push_back(percent);
}
void CancelAtFirstProgress(int) {
    gCancel.Cancel();
}

TEST_F(UpdateHttps, ADownloadPassesOnlyWhenEveryCheckDoes) {
    HttpCancel cancel;
    // The genuine file, with the hash written in upper case.
    UpdateInfo good = Known();
    for (wchar_t* c = good.sha256; *c; ++c) *c = static_cast<wchar_t>(towupper(*c));
    gPercents.clear();
    std::unique_ptr<DownloadResult> result = DownloadAndVerify(good, kPortable, tempDir, cancel, RecordPercent);
    EXPECT_EQ(result->error, L"");
    // Progress comes once per new percentage, rising to 100.
    ASSERT_FALSE(gPercents.empty());
    EXPECT_EQ(gPercents.back(), 100);
    EXPECT_LE(gPercents.size(), 101u);
    for (size_t i = 1; i < gPercents.size(); ++i) EXPECT_LT(gPercents[i - 1], gPercents[i]);
    // Until it is used, nobody can write, replace or delete the checked file.
    ASSERT_NE(result->lock, INVALID_HANDLE_VALUE);
    HANDLE writer = CreateFileW(result->path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(result->path.c_str()));
    const std::wstring swap = tempDir + L"ov-swap.exe";
    HANDLE other = CreateFileW(swap.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    EXPECT_FALSE(MoveFileExW(swap.c_str(), result->path.c_str(), MOVEFILE_REPLACE_EXISTING));
    DeleteFileW(swap.c_str());
    // A portable copy's swap moves the checked file through that lock.
    const std::wstring goodPath = result->path, target = tempDir + L"ov-swapped.exe";
    HANDLE before = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(before, INVALID_HANDLE_VALUE);
    CloseHandle(before);
    EXPECT_EQ(ReplaceProgramFile(target, *result), L"");
    result.reset();
    EXPECT_EQ(FileVersionString(target, L"ProductVersion"), L"1.0.1");
    EXPECT_EQ(GetFileAttributesW(goodPath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileW(target.c_str()));
    EXPECT_TRUE(DeleteFileW((target + L".old").c_str()));

    UpdateInfo oneDigit = Known();
    oneDigit.sha256[10] = oneDigit.sha256[10] == L'0' ? L'1' : L'0';
    UpdateInfo longer = Known();
    longer.size += 1;
    UpdateInfo shorter = Known();
    shorter.size -= 1;
    UpdateInfo tooSmall = Known();
    wcscpy(tooSmall.exe, (base + L"/file/short").c_str());
    tooSmall.size = 0;
    UpdateInfo otherVersion = Known(L"1.0.2");
    UpdateInfo plain = Known();
    wcscpy(plain.exe, L"http://localhost/file/orvane.exe");
    UpdateInfo installer = Known();  // an installed copy offered the program file
    wcscpy(installer.setup, installer.exe);
    wcscpy(installer.setup_sha256, installer.sha256);
    installer.setup_size = installer.size;
    UpdateInfo noInstaller = Known();
    const struct {
        const char* what;
        const UpdateInfo& info;
        InstallMode mode;
        std::wstring error;
    } rows[] = {
        {"one hash digit changed", oneDigit, kPortable, Text(kTextChecksum)},
        {"file shorter than the size", longer, kPortable, Text(kTextWrongSize)},
        {"file longer than the size", shorter, kPortable, Text(kTextWrongSize)},
        {"19,999 bytes", tooSmall, kPortable, Text(kTextIncomplete)},
        {"another version", otherVersion, kPortable, Text(kTextWrongVersion)},
        {"another product", installer, kInstalledForUser, Text(kTextWrongVersion)},
        {"http address", plain, kPortable, L"Only secure (https://) update addresses are accepted."},
        {"no installer", noInstaller, kInstalledForEveryone,
         L"This version has no installer on the server yet. Download Orvane-Setup.exe from the download page (Help "
         L"tab) and run it."},
    };
    for (const auto& row : rows) {
        result = DownloadAndVerify(row.info, row.mode, tempDir, cancel, nullptr);
        EXPECT_EQ(result->error, row.error) << row.what;
        EXPECT_EQ(result->lock, INVALID_HANDLE_VALUE) << row.what;
        EXPECT_EQ(GetFileAttributesW(result->path.c_str()), INVALID_FILE_ATTRIBUTES) << row.what << ": file kept";
    }
}

TEST_F(UpdateHttps, CancelStopsTheDownloadAndDeletesTheFile) {
    UpdateInfo slow = Known();
    wcscpy(slow.exe, (base + L"/slow").c_str());
    gCancel.Reset();
    const std::unique_ptr<DownloadResult> result =
        DownloadAndVerify(slow, kPortable, tempDir, gCancel, CancelAtFirstProgress);
    EXPECT_EQ(result->error, L"Update cancelled.");
    EXPECT_EQ(GetFileAttributesW(result->path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(UpdateHttps, CancelEndsADownloadStalledOnTheNetworkAtOnce) {
    const std::wstring path = tempDir + L"ov-stall.bin";
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HttpCancel cancel;
    HANDLE receiving = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t error[600] = {};
    bool ok = true;
    // The host sends the first part of the body, then nothing for longer than
    // the 60-s receive time-out.
    std::thread download([&] {
        ok = HttpGet((base + L"/stall").c_str(), nullptr, 0, file, 1 << 20, cancel, [&](int) { SetEvent(receiving); },
                     error, 600);
    });
    const bool started = WaitForSingleObject(receiving, Patient(30000)) == WAIT_OBJECT_0;
    Sleep(500);  // into its wait for the rest, most likely
    const ULONGLONG cancelledAt = GetTickCount64();
    cancel.Cancel();
    download.join();
    const ULONGLONG took = GetTickCount64() - cancelledAt;
    CloseHandle(receiving);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    EXPECT_TRUE(started) << "no part of the body came";
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::wstring(error), L"Update cancelled.");
    EXPECT_LT(took, 20000u) << "the cancel waited for the receive time-out";
}

// Sets what the release host answers at a path: the manifest, or a file.
bool Put(const wchar_t* path, const std::string& manifest) {
    const std::wstring base = Env("OV_TEST_HTTPS_BASE");
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    if (!WinHttpCrackUrl(base.c_str(), 0, 0, &parts)) return false;
    HINTERNET session = WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
    HINTERNET request =
        connection ? WinHttpOpenRequest(connection, L"PUT", path, nullptr, nullptr, nullptr, WINHTTP_FLAG_SECURE)
                   : nullptr;
    const bool ok = request &&
                    WinHttpSendRequest(request, nullptr, 0, const_cast<char*>(manifest.data()),
                                       static_cast<DWORD>(manifest.size()), static_cast<DWORD>(manifest.size()), 0) &&
                    WinHttpReceiveResponse(request, nullptr);
    for (HINTERNET handle : {request, connection, session})
        if (handle) WinHttpCloseHandle(handle);
    return ok;
}

bool PutManifest(const std::string& manifest) {
    return Put(L"/control/manifest", manifest);
}

std::string Manifest(const char* version) {
    const std::string hash(64, 'a');
    return std::string(R"({"version":")") + version + R"(","exe":"https://localhost/x.exe","sha256":")" + hash +
           R"(","notes":"\u2022 Faster\nMore"})";
}

// The update test program, which asks the release host on this machine.
class UpdateProgram : public UpdateHttps {
protected:
    void SetUp() override {
        UpdateHttps::SetUp();
        if (IsSkipped()) return;
        ov::gui::DeleteRegistryKey(ov::gui::kSettingsKey);
    }
    void TearDown() override {
        if (main && program.Running()) program.Exit(main, ov::gui::kExitMs);
        program.Kill();
    }

    HWND Start() {
        if (!program.Start(ov::gui::ProgramFolder() + L"\\OrvaneUpdateTest.exe", L"")) return nullptr;
        main = program.WaitForWindow(L"OrvaneMain", ov::gui::kStartMs);
        if (main) WaitForInputIdle(program.Handle(), ov::gui::kStartMs);
        return main;
    }

    int ManifestRequests() const {
        std::string body;
        return Fetch(base + L"/control/requests", &body).empty() ? std::atoi(body.c_str()) : -1;
    }

    // The text of the message box the program shows, once it shows one (its
    // longest static text; the box is found while its children are made).
    std::wstring WaitForBox(HWND& box) const {
        std::wstring text;
        ov::gui::WaitUntil(
            [&] {
                box = ov::gui::FindProcessWindow(program.Id(), L"#32770");
                text.clear();
                if (box) EnumChildWindows(box, CollectLongestStatic, reinterpret_cast<LPARAM>(&text));
                return !text.empty();
            },
            Patient(20000));
        return box ? text : L"(no box)";
    }

    static BOOL CALLBACK CollectLongestStatic(HWND child, LPARAM longest) {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        const std::wstring shown = ov::gui::WindowText(child);
        auto& out = *reinterpret_cast<std::wstring*>(longest);
        if (_wcsicmp(name, L"Static") == 0 && shown.size() > out.size()) out = shown;
        return TRUE;
    }

    ov::gui::Program program;
    HWND main = nullptr;
};

TEST_F(UpdateProgram, ANewerVersionShowsTheBarWithoutABox) {
    ASSERT_TRUE(PutManifest(Manifest("1.0.2")));
    ASSERT_TRUE(Start());
    HWND bar = ov::gui::ChildByClass(main, L"OVUpdBar");
    ASSERT_TRUE(bar);
    // The first automatic check is due 8 s after start, on the 5-s timer.
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::Visible(bar); }, Patient(15000)))
        << "manifest requests seen: " << ManifestRequests();
    EXPECT_EQ(ov::gui::FindProcessWindow(program.Id(), L"#32770"), nullptr);
    EXPECT_TRUE(ov::gui::Visible(ov::gui::ChildById(bar, 490)));
    EXPECT_EQ(ov::gui::WindowText(ov::gui::ChildById(bar, 492)), L"Later");
    // "What's new" shows the notes in the text window.
    PostMessageW(main, WM_COMMAND, 491, 0);
    HWND notes = nullptr;
    EXPECT_TRUE(ov::gui::WaitUntil(
        [&] { return (notes = ov::gui::FindProcessWindow(program.Id(), L"OVNotes")) != nullptr; }, Patient(5000)));
    EXPECT_EQ(ov::gui::WindowText(notes), L"What's new in Orvane");
}

TEST_F(UpdateProgram, CancelDuringADownloadDeletesItAndBringsTheButtonsBack) {
    const std::string hash(64, 'a');
    const std::wstring slow = base + L"/slow";
    ASSERT_TRUE(PutManifest(R"({"version":"1.0.2","exe":")" + std::string(slow.begin(), slow.end()) +
                            R"(","sha256":")" + hash + R"("})"));
    ASSERT_TRUE(Start());
    HWND bar = ov::gui::ChildByClass(main, L"OVUpdBar");
    ASSERT_TRUE(bar);
    ASSERT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::Visible(bar); }, Patient(15000)));
    PostMessageW(main, WM_COMMAND, 490, 0);
    HWND later = ov::gui::ChildById(bar, 492);
    ASSERT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::WindowText(later) == L"Cancel"; }, Patient(5000)));
    EXPECT_FALSE(ov::gui::Visible(ov::gui::ChildById(bar, 490)));
    const std::wstring file = tempDir + L"Orvane-update-1.0.2.exe";
    EXPECT_TRUE(
        ov::gui::WaitUntil([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }, Patient(5000)));
    PostMessageW(main, WM_COMMAND, 492, 0);
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::WindowText(later) == L"Later"; }, Patient(5000)));
    EXPECT_TRUE(ov::gui::Visible(ov::gui::ChildById(bar, 490)));
    EXPECT_TRUE(ov::gui::Visible(ov::gui::ChildById(bar, 491)));
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ov::gui::FindProcessWindow(program.Id(), L"#32770"), nullptr);  // a cancel ends silently
}

TEST_F(UpdateProgram, ASecondCheckForUpdatesSaysOneIsRunning) {
    ASSERT_TRUE(PutManifest(Manifest("1.0.1")));
    struct Delay {
        Delay() { ok = Put(L"/control/manifest_delay", "6"); }
        ~Delay() { Put(L"/control/manifest_delay", "0"); }
        bool ok;
    } delay;
    ASSERT_TRUE(delay.ok);
    DWORD off = 0;  // no automatic check, which would answer no one
    ASSERT_TRUE(ov::gui::WriteRegistryValue(ov::gui::kSettingsKey, L"AutoUpdate", REG_DWORD, &off, sizeof off));
    ASSERT_TRUE(Start());
    HWND status = ov::gui::ChildByClass(main, L"msctls_statusbar32");
    ASSERT_TRUE(status);
    // The index's start-up states share the part the note goes to: let them pass first.
    ASSERT_TRUE(ov::gui::WaitUntil(
        [&] { return ov::gui::StatusBarText(status, 3).find(L"Up to date") != std::wstring::npos; }, Patient(60000)))
        << "status bar: " << ov::gui::StatusBarSeen(status);
    PostMessageW(main, WM_COMMAND, 129, 0);
    PostMessageW(main, WM_COMMAND, 129, 0);
    EXPECT_TRUE(ov::gui::WaitUntil(
        [&] { return ov::gui::StatusBarText(status, 3) == L"  A check for updates is already running."; },
        Patient(5000)))
        << "status bar: " << ov::gui::StatusBarSeen(status);
    // The running check still answers, and the note goes with it.
    HWND box = nullptr;
    EXPECT_EQ(WaitForBox(box), L"You have the latest version of Orvane (1.0.1).");
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::StatusBarText(status, 3) == L"  "; }, Patient(5000)))
        << "status bar: " << ov::gui::StatusBarSeen(status);
}

TEST_F(UpdateProgram, WithAutomaticChecksOffOnlyTheCommandAsks) {
    ASSERT_TRUE(PutManifest(Manifest("1.0.1.0")));
    DWORD off = 0;
    ASSERT_TRUE(ov::gui::WriteRegistryValue(ov::gui::kSettingsKey, L"AutoUpdate", REG_DWORD, &off, sizeof off));
    const int before = ManifestRequests();
    ASSERT_GE(before, 0);
    ASSERT_TRUE(Start());
    // Past the first due time and two timer ticks: nothing may have asked.
    Sleep(16000);
    EXPECT_EQ(ManifestRequests(), before);
    PostMessageW(main, WM_COMMAND, 129, 0);
    HWND box = nullptr;
    EXPECT_EQ(WaitForBox(box), L"You have the latest version of Orvane (1.0.1).");
    EXPECT_EQ(ManifestRequests(), before + 1);
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// The installer's entries as the program reads them at start-up.
TEST(InstallMode, ReadsTheInstallersEntries) {
    const wchar_t* uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane";
    const wchar_t* policy = L"Software\\Keltrax\\Orvane\\Policy";
    auto put = [](HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &handle, nullptr), 0);
        ASSERT_EQ(RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), bytes), 0);
        RegCloseKey(handle);
    };
    auto putText = [&](HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& text) {
        put(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    auto clear = [&] {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteKeyExW(root, uninstall, KEY_WOW64_64KEY, 0);
            RegDeleteKeyExW(root, policy, KEY_WOW64_64KEY, 0);
        }
    };
    clear();
    EXPECT_FALSE(DetectInstallMode());
    EXPECT_EQ(gInstallMode, kPortable);
    // Everyone's entry for another folder, the user's for this one (with trailing backslashes).
    putText(HKEY_LOCAL_MACHINE, uninstall, L"InstallLocation", GetExeDir() + L"-other");
    putText(HKEY_CURRENT_USER, uninstall, L"InstallLocation", GetExeDir() + L"\\\\");
    putText(HKEY_CURRENT_USER, policy, L"DisableUpdates", L"1");  // not a DWORD: ignored
    EXPECT_FALSE(DetectInstallMode());
    EXPECT_EQ(gInstallMode, kInstalledForUser);
    const DWORD on = 1;
    put(HKEY_CURRENT_USER, policy, L"DisableUpdates", REG_DWORD, &on, sizeof on);
    EXPECT_TRUE(DetectInstallMode());
    putText(HKEY_LOCAL_MACHINE, uninstall, L"InstallLocation", GetExeDir());
    EXPECT_FALSE(DetectInstallMode());  // everyone's copy: the policy is read from HKLM
    EXPECT_EQ(gInstallMode, kInstalledForEveryone);
    clear();
}

// The install step in the update test program: the served "new version" is a
// stand-in installer (which records its arguments) or the program itself
// carrying version 9.0.0.
class InstallProgram : public UpdateProgram {
protected:
    void SetUp() override {
        UpdateProgram::SetUp();
        if (IsSkipped()) return;
        record = tempDir + L"ov-fake-record.txt";
        DeleteFileW(record.c_str());
        SetEnvironmentVariableW(L"OV_FAKE_RECORD", record.c_str());
        ClearEntries();
    }
    void TearDown() override {
        UpdateProgram::TearDown();
        if (next.Running()) next.Exit(nextMain, ov::gui::kExitMs);
        next.Kill();
        EndFake();
        ClearEntries();
        for (const wchar_t* name : {L"OV_FAKE_RECORD", L"OV_FAKE_EXIT", L"OV_TEST_INSTALLER_WAIT_MS"})
            SetEnvironmentVariableW(name, nullptr);
    }

    static void ClearEntries() {
        RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane",
                        KEY_WOW64_64KEY, 0);
    }

    // Serves file as NAME; its hash and size go into the manifest text.
    std::string Serve(const std::wstring& file, const std::string& name) {
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE) << "missing build output";
        if (handle == INVALID_HANDLE_VALUE) return "";
        LARGE_INTEGER size = {};
        GetFileSizeEx(handle, &size);
        std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        const std::wstring hash = Sha256OfFile(handle);
        CloseHandle(handle);
        EXPECT_TRUE(Put((L"/control/file/" + std::wstring(name.begin(), name.end())).c_str(), bytes));
        return std::string(hash.begin(), hash.end()) + "\",\"" + std::to_string(bytes.size());
    }

    // Serves the stand-in installer and the 9.0.0 program as version 9.0.0.
    void OfferVersion9() {
        const std::string b(base.begin(), base.end());
        const std::string setup = Serve(ov::gui::ProgramFolder() + L"\\ov_fake_setup.exe", "setup.exe");
        const std::string next = Serve(ov::gui::ProgramFolder() + L"\\OrvaneNextTest.exe", "next.exe");
        const size_t cut = setup.find('"'), cutNext = next.find('"');
        manifest = R"({"version":"9.0.0","exe":")" + b + R"(/file/next.exe","sha256":")" + next.substr(0, cutNext) +
                   R"(","size":")" + next.substr(cutNext + 3) + R"(","setup":")" + b +
                   R"(/file/setup.exe","setup_sha256":")" + setup.substr(0, cut) + R"(","setup_size":")" +
                   setup.substr(cut + 3) + R"("})";
        ASSERT_TRUE(PutManifest(manifest));
    }

    // Starts exe searching for text and clicks "Update now" once the bar shows.
    ::testing::AssertionResult StartAndUpdate(const std::wstring& exe, const std::wstring& text) {
        if (!program.Start(exe, L"/search " + QuoteArgument(text)))
            return ::testing::AssertionFailure() << "cannot start, error " << GetLastError();
        main = program.WaitForWindow(L"OrvaneMain", ov::gui::kStartMs);
        if (!main) return ::testing::AssertionFailure() << "no window; still running: " << program.Running();
        WaitForInputIdle(program.Handle(), ov::gui::kStartMs);
        HWND bar = ov::gui::ChildByClass(main, L"OVUpdBar");
        if (!bar || !ov::gui::WaitUntil([&] { return ov::gui::Visible(bar); }, Patient(20000)))
            return ::testing::AssertionFailure() << "no update bar; manifest requests " << ManifestRequests();
        PostMessageW(main, WM_COMMAND, 490, 0);
        return ::testing::AssertionSuccess();
    }

    // What the stand-in installer recorded: its process id, then its arguments.
    std::vector<std::wstring> WaitForRecord() {
        std::vector<std::wstring> lines;
        ov::gui::WaitUntil([&] { return GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES; },
                           Patient(30000));
        HANDLE file = CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return lines;
        std::wstring text(4096, L'\0');
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
        CloseHandle(file);
        text.resize(read / sizeof(wchar_t));
        for (size_t start = 0; start <= text.size();) {
            const size_t end = std::min(text.find(L'\n', start), text.size());
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        fakeId = lines.empty() ? 0 : static_cast<DWORD>(std::stoul(lines[0]));
        return lines;
    }

    // Ends a stand-in installer left running (by the id it recorded).
    void EndFake() {
        if (!fakeId) return;
        if (HANDLE fake = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, fakeId)) {
            TerminateProcess(fake, 1);
            WaitForSingleObject(fake, Patient(10000));
            CloseHandle(fake);
        }
        fakeId = 0;
    }

    // The copy the update started: another process's main window.
    HWND WaitForNextCopy() {
        HWND found = nullptr;
        ov::gui::WaitUntil(
            [&] {
                found = FindWindowW(L"OrvaneMain", nullptr);
                DWORD id = 0;
                if (found) GetWindowThreadProcessId(found, &id);
                return found && id != program.Id();
            },
            Patient(60000));
        DWORD id = 0;
        if (found) GetWindowThreadProcessId(found, &id);
        if (!found || id == program.Id()) return nullptr;
        next.Adopt(id);
        nextMain = found;
        return found;
    }

    std::wstring record;
    std::string manifest;  // what OfferVersion9 serves
    DWORD fakeId = 0;
    ov::gui::Program next;
    HWND nextMain = nullptr;
};

// The text a relaunch must carry over exactly.
const std::wstring kSearch = L"a \"b c\" C:\\Tools\\";

TEST_F(InstallProgram, AnInstallerThatSucceedsIsGivenItsArgumentsAndTheProgramComesBack) {
    ASSERT_TRUE(ov::gui::WriteRegistryValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane",
                                            L"InstallLocation", REG_SZ, ov::gui::ProgramFolder().c_str(),
                                            static_cast<DWORD>((ov::gui::ProgramFolder().size() + 1) * 2)));
    SetEnvironmentVariableW(L"OV_FAKE_EXIT", L"0");
    OfferVersion9();
    // While the verified installer is guarded, the elevation check and the
    // installer itself open it by name sharing reads only: they get in, and
    // still nobody writes, replaces or deletes it.
    UpdateInfo offered;
    ReadManifest(manifest.c_str(), offered);
    HttpCancel cancel;
    std::unique_ptr<DownloadResult> guarded = DownloadAndVerify(offered, kInstalledForUser, tempDir, cancel, nullptr);
    ASSERT_EQ(guarded->error, L"");
    HANDLE reader =
        CreateFileW(guarded->path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "refused with error " << GetLastError();
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    HANDLE writer = CreateFileW(guarded->path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(guarded->path.c_str()));
    const std::wstring guardedPath = guarded->path;
    guarded.reset();
    DeleteFileW(guardedPath.c_str());
    ASSERT_TRUE(StartAndUpdate(ov::gui::ProgramFolder() + L"\\OrvaneUpdateTest.exe", kSearch));
    const std::vector<std::wstring> lines = WaitForRecord();
    const std::vector<std::wstring> expected = {L"/S", L"/UPDATE", L"/CURRENTUSER", L"/D=" + ov::gui::ProgramFolder()};
    ASSERT_EQ(lines.size(), 5u) << "the installer did not record its start";
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 1, lines.end()), expected);
    // The installer opens its own file while the program still guards it.
    const bool closed = program.WaitForExit(Patient(60000));
    HWND box = nullptr;
    EXPECT_TRUE(closed) << "the old copy did not close; it shows: " << ov::ToUtf8(closed ? L"" : WaitForBox(box));
    HWND again = WaitForNextCopy();
    ASSERT_TRUE(again) << "the program did not come back";
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::WindowText(ov::gui::ChildById(again, 480)) == kSearch; },
                                   Patient(20000)))
        << "search came back as: " << std::string(kSearch.begin(), kSearch.end());
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::FindProcessWindow(next.Id(), L"OVNotes") != nullptr; },
                                   Patient(20000)));
    EXPECT_EQ(ov::gui::WindowText(ov::gui::FindProcessWindow(next.Id(), L"OVNotes")), L"Orvane updated");
}

TEST_F(InstallProgram, AFailingHangingOrInterruptedInstallerLeavesTheProgramAsItWas) {
    ASSERT_TRUE(ov::gui::WriteRegistryValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane",
                                            L"InstallLocation", REG_SZ, ov::gui::ProgramFolder().c_str(),
                                            static_cast<DWORD>((ov::gui::ProgramFolder().size() + 1) * 2)));
    OfferVersion9();
    const std::wstring exe = ov::gui::ProgramFolder() + L"\\OrvaneUpdateTest.exe";
    const std::wstring download = tempDir + L"Orvane-Setup-9.0.0.exe";

    // Exit code 3: said so, and the window works again.
    SetEnvironmentVariableW(L"OV_FAKE_EXIT", L"3");
    ASSERT_TRUE(StartAndUpdate(exe, kSearch));
    HWND box = nullptr;
    EXPECT_EQ(WaitForBox(box).substr(0, 51), L"The installer couldn't finish the update (code 3). ");
    HWND status = ov::gui::ChildByClass(main, L"msctls_statusbar32");
    EXPECT_EQ(ov::gui::StatusBarText(status, 3).find(L"Installing the update"), std::wstring::npos)
        << "status bar: " << ov::gui::StatusBarSeen(status);
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return IsWindowEnabled(main) != FALSE; }, Patient(10000)));
    EXPECT_TRUE(program.Running());
    fakeId = 0;
    program.Exit(main, ov::gui::kExitMs);

    // A hanging installer: the wait ends at its limit (shortened for the test)
    // though messages reach the window all the time.
    DeleteFileW(record.c_str());
    SetEnvironmentVariableW(L"OV_FAKE_EXIT", L"hang");
    SetEnvironmentVariableW(L"OV_TEST_INSTALLER_WAIT_MS", L"8000");
    ASSERT_TRUE(StartAndUpdate(exe, kSearch));
    ASSERT_EQ(WaitForRecord().size(), 5u);
    std::wstring text;
    box = nullptr;
    ov::gui::WaitUntil(
        [&] {
            PostMessageW(main, WM_NULL, 0, 0);
            if (!ov::gui::FindProcessWindow(program.Id(), L"#32770")) return false;
            text = WaitForBox(box);
            return true;
        },
        Patient(90000));
    EXPECT_EQ(text.substr(0, 53), L"The installer couldn't finish the update (code 259). ");
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
    EndFake();
    program.Exit(main, ov::gui::kExitMs);

    // Exit asked for while the installer runs: the process ends, nothing restarts.
    DeleteFileW(record.c_str());
    SetEnvironmentVariableW(L"OV_TEST_INSTALLER_WAIT_MS", nullptr);
    ASSERT_TRUE(StartAndUpdate(exe, kSearch));
    ASSERT_EQ(WaitForRecord().size(), 5u);
    PostMessageW(main, WM_APP + 70, 0, 0);
    EXPECT_TRUE(program.WaitForExit(Patient(60000))) << "the exit was swallowed by the wait";
    Sleep(2000);
    EXPECT_EQ(FindWindowW(L"OrvaneMain", nullptr), nullptr) << "a copy came back";
    EndFake();
    ov::gui::WaitUntil([&] { return GetFileAttributesW(download.c_str()) == INVALID_FILE_ATTRIBUTES; }, Patient(5000));
}

TEST_F(InstallProgram, ACancelAfterTheLastByteInstallsNothing) {
    const std::wstring folder = L"C:\\Cancel dir", exe = folder + L"\\Orvane.exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((ov::gui::ProgramFolder() + L"\\OrvaneUpdateTest.exe").c_str(), exe.c_str(), FALSE));
    OfferVersion9();
    // The new program file comes whole, then the connection stays open.
    manifest.replace(manifest.find("/file/next.exe"), 6, "/hold/");
    ASSERT_TRUE(PutManifest(manifest));
    WIN32_FILE_ATTRIBUTE_DATA facts = {};
    ASSERT_TRUE(GetFileAttributesExW((ov::gui::ProgramFolder() + L"\\OrvaneNextTest.exe").c_str(),
                                     GetFileExInfoStandard, &facts));
    const uint64_t whole = facts.nFileSizeLow;
    const std::wstring download = tempDir + L"Orvane-update-9.0.0.exe";
    auto downloaded = [&] {
        return GetFileAttributesExW(download.c_str(), GetFileExInfoStandard, &facts) ? facts.nFileSizeLow : 0u;
    };

    ASSERT_TRUE(StartAndUpdate(exe, kSearch));
    ASSERT_TRUE(ov::gui::WaitUntil([&] { return downloaded() == whole; }, Patient(60000)))
        << downloaded() << " of " << whole << " bytes came";
    Sleep(2000);  // the download now waits for the end of the body, most likely
    DWORD_PTR ignored = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_COMMAND, 492, 0, SMTO_NORMAL, Patient(10000), &ignored));
    HWND later = ov::gui::ChildById(ov::gui::ChildByClass(main, L"OVUpdBar"), 492);
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::WindowText(later) == L"Later"; }, Patient(60000)));
    SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, Patient(10000), &ignored);  // its handler has ended
    EXPECT_TRUE(program.Running()) << "the program closed for an install";
    EXPECT_EQ(FileVersionString(exe, L"ProductVersion"), L"1.0.1");
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return GetFileAttributesW(download.c_str()) == INVALID_FILE_ATTRIBUTES; },
                                   Patient(5000)))
        << "the download was left behind";
    EXPECT_EQ(ov::gui::FindProcessWindow(program.Id(), L"#32770"), nullptr);  // a cancel ends silently
    if (program.Running()) program.Exit(main, ov::gui::kExitMs);
    if (HWND other = FindWindowW(L"OrvaneMain", nullptr)) {  // a copy the install started
        DWORD id = 0;
        GetWindowThreadProcessId(other, &id);
        next.Adopt(id);
        next.Exit(other, ov::gui::kExitMs);
        next.Kill();
    }
    DeleteFileW(exe.c_str());
    DeleteFileW((exe + L".old").c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(InstallProgram, APortableCopyReplacesItselfAndTheNewOneCleansUp) {
    const std::wstring folder = L"C:\\Tools dir", exe = folder + L"\\Orvane.exe", old = exe + L".old";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW(old.c_str());
    RemoveDirectoryW(old.c_str());
    ASSERT_TRUE(CopyFileW((ov::gui::ProgramFolder() + L"\\OrvaneUpdateTest.exe").c_str(), exe.c_str(), FALSE));
    OfferVersion9();
    const std::wstring download = tempDir + L"Orvane-update-9.0.0.exe";

    // A folder where the old copy would go: refused, nothing changed.
    ASSERT_TRUE(CreateDirectoryW(old.c_str(), nullptr));
    ASSERT_TRUE(StartAndUpdate(exe, kSearch));
    HWND box = nullptr;
    EXPECT_EQ(WaitForBox(box).substr(0, 44), L"Orvane can't replace itself in this folder:\n");
    EXPECT_EQ(FileVersionString(exe, L"ProductVersion"), L"1.0.1");
    EXPECT_EQ(GetFileAttributesW(download.c_str()), INVALID_FILE_ATTRIBUTES);
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
    program.Exit(main, ov::gui::kExitMs);
    ASSERT_TRUE(RemoveDirectoryW(old.c_str()));

    ASSERT_TRUE(StartAndUpdate(exe, kSearch));
    EXPECT_TRUE(program.WaitForExit(Patient(60000))) << "the old copy did not close";
    HWND again = WaitForNextCopy();
    ASSERT_TRUE(again) << "the new version did not start";
    EXPECT_EQ(FileVersionString(exe, L"ProductVersion"), L"9.0.0");
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::WindowText(ov::gui::ChildById(again, 480)) == kSearch; },
                                   Patient(20000)));
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return ov::gui::FindProcessWindow(next.Id(), L"OVNotes") != nullptr; },
                                   Patient(20000)));
    // The old file goes on one of the new copy's five tries over 15 s.
    EXPECT_TRUE(
        ov::gui::WaitUntil([&] { return GetFileAttributesW(old.c_str()) == INVALID_FILE_ATTRIBUTES; }, Patient(30000)));
    EXPECT_EQ(GetFileAttributesW(download.c_str()), INVALID_FILE_ATTRIBUTES);
    if (next.Running()) next.Exit(again, ov::gui::kExitMs);
    next.Kill();
    DeleteFileW(exe.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
