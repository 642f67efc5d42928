// Times a large update download over loopback, as the download thread does it:
// the transfer into a file, then the SHA-256 of that file read back from disk,
// and counts the progress calls (one per new percentage). Run it around the
// local release host, which trusts its authority for this run only:
//
//   python3 tests/update/https_release_host.py 47443 build/windows/bin/Orvane.exe
//       build/windows/wine-run.sh build/windows/bin/ov_update_download_timing.exe [MIB]
// (one command line).
#include <windows.h>

#include <wincrypt.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/update_check.h"
#include "update/update_download.h"

namespace {

int gProgressCalls = 0;

std::vector<BYTE> AuthorityDer() {
    const char* hex = std::getenv("OV_TEST_CA_HEX");
    std::vector<BYTE> der;
    for (size_t i = 0; hex && hex[i] && hex[i + 1]; i += 2)
        der.push_back(static_cast<BYTE>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return der;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int mib = argc > 1 ? _wtoi(argv[1]) : 30;
    const char* base = std::getenv("OV_TEST_HTTPS_BASE");
    const std::vector<BYTE> der = AuthorityDer();
    if (!base || der.empty()) {
        std::fprintf(stderr, "run it around tests/update/https_release_host.py\n");
        return 2;
    }
    // A process reads the trusted roots once, when it first opens them: a child
    // adds the authority, so this process sees it at its first HTTPS request.
    if (argc > 2 && wcscmp(argv[2], L"--trust") == 0) {
        HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
        const bool added = root && CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                                                    static_cast<DWORD>(der.size()),
                                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (root) CertCloseStore(root, 0);
        return added ? 0 : 2;
    }
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" " + std::to_wstring(mib) + L" --trust";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    DWORD trustCode = 1;
    if (CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &trustCode);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    if (trustCode != 0) {
        std::fprintf(stderr, "could not trust the test authority\n");
        return 2;
    }
    const std::wstring url = std::wstring(base, base + strlen(base)) + L"/bulk/" + std::to_wstring(mib);
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring path = std::wstring(temp) + L"ov-download-timing.bin";
    HttpCancel cancel;
    int status = 0;
    for (int round = 0; round < 3; ++round) {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        wchar_t error[600] = {};
        gProgressCalls = 0;
        auto start = std::chrono::steady_clock::now();
        const bool ok = HttpGet(
            url.c_str(), nullptr, 0, file, static_cast<uint32_t>(mib) << 20, cancel, [](int) { ++gProgressCalls; },
            error, 600);
        const double download = Seconds(start);
        CloseHandle(file);
        file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        start = std::chrono::steady_clock::now();
        const std::wstring digest = Sha256OfFile(file);
        const double hashing = Seconds(start);
        CloseHandle(file);
        DeleteFileW(path.c_str());
        if (!ok || digest.size() != 64) {
            std::fwprintf(stderr, L"failed: %ls\n", ok ? L"no digest" : error);
            status = 1;
            break;
        }
        std::printf("BM_UpdateDownload/mib:%d round %d: download %.3f s, hashing %.3f s (+%.1f%%), progress calls %d\n",
                    mib, round, download, hashing, 100.0 * hashing / download, gProgressCalls);
    }
    // The build's prefix trusts it no longer.
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found =
        root && wanted ? CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr)
                       : nullptr;
    if (found) CertDeleteCertificateFromStore(found);
    if (wanted) CertFreeCertificateContext(wanted);
    if (root) CertCloseStore(root, 0);
    return status;
}
