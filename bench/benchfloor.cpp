// The platform's floor for the benchmark: only what any program fetching a kit this way must do.
// Usage: benchfloor.exe DEST_FOLDER URL_LIST_FILE
// For each URL in the list (one per line, UTF-8/ASCII): URLDownloadToCacheFileW with a callback
// that does nothing, then a copy of the cache file into DEST_FOLDER under the URL's last segment
// that adds every byte to the platform's MD5 (CryptoAPI), as a check against a kit list's digest
// must (the checked file's bytes hashed in the pass that copies them). Prints "files=N seconds=S
// transfer=S copy=S notifications=N failures=N" (the time in the transfer calls and in the copies,
// and how many progress notifications the platform sent) and exits 0 only when every transfer and
// copy succeeded.
#include <windows.h>
#include <urlmon.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

class EmptyCallback : public IBindStatusCallback {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
            *out = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the stack for one transfer; the count is not used for its lifetime.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    // Counts, so that the bench can say how often a callback is called per megabyte.
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override {
        ++notifications;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    unsigned long notifications = 0;
};

double secondsSince(const LARGE_INTEGER& start, const LARGE_INTEGER& frequency) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

std::vector<std::wstring> readList(const wchar_t* path) {
    std::vector<std::wstring> urls;
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) return urls;
    char line[2048];
    while (fgets(line, sizeof line, file) != nullptr) {
        std::wstring url;
        for (const char* c = line; *c != '\0' && *c != '\r' && *c != '\n'; ++c) {
            url.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
        }
        if (!url.empty()) urls.push_back(url);
    }
    fclose(file);
    return urls;
}

// Copies `from` into `to` in 256 KB steps, each added to an MD5 as it is written.
bool copyHashed(const wchar_t* from, const wchar_t* to) {
    HANDLE source = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    HANDLE target = CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool done =
        source != INVALID_HANDLE_VALUE && target != INVALID_HANDLE_VALUE &&
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
    static BYTE step[256 * 1024];
    for (DWORD got = 1, written = 0; done && got != 0;) {
        done = ReadFile(source, step, sizeof step, &got, nullptr) &&
               WriteFile(target, step, got, &written, nullptr) && written == got &&
               CryptHashData(hash, step, got, 0);
    }
    BYTE digest[16];
    DWORD length = sizeof digest;
    done = done && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
    if (hash != 0) CryptDestroyHash(hash);
    if (provider != 0) CryptReleaseContext(provider, 0);
    if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
    if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
    return done;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: benchfloor DEST_FOLDER URL_LIST_FILE\n");
        return 2;
    }
    std::vector<std::wstring> urls = readList(argv[2]);
    if (urls.empty()) {
        fwprintf(stderr, L"benchfloor: no URLs in %s\n", argv[2]);
        return 2;
    }
    LARGE_INTEGER frequency, start, step;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int failures = 0;
    unsigned long notifications = 0;
    double transferSeconds = 0, copySeconds = 0;
    for (const std::wstring& url : urls) {
        wchar_t cacheFile[MAX_PATH] = {};
        EmptyCallback callback;
        QueryPerformanceCounter(&step);
        HRESULT result =
            URLDownloadToCacheFileW(nullptr, url.c_str(), cacheFile, MAX_PATH, 0, &callback);
        transferSeconds += secondsSince(step, frequency);
        notifications += callback.notifications;
        if (result != S_OK) {
            fwprintf(stderr, L"benchfloor: %s: 0x%08lx\n", url.c_str(),
                     static_cast<unsigned long>(result));
            ++failures;
            continue;
        }
        std::wstring destination = std::wstring(argv[1]) + L"\\" + url.substr(url.rfind(L'/') + 1);
        QueryPerformanceCounter(&step);
        bool copied = copyHashed(cacheFile, destination.c_str());
        copySeconds += secondsSince(step, frequency);
        if (!copied) {
            fwprintf(stderr, L"benchfloor: copy to %s: %lu\n", destination.c_str(), GetLastError());
            ++failures;
        }
    }
    wprintf(L"files=%u seconds=%.3f transfer=%.3f copy=%.3f notifications=%lu failures=%d\n",
            static_cast<unsigned>(urls.size()), secondsSince(start, frequency), transferSeconds,
            copySeconds, notifications, failures);
    return failures == 0 ? 0 : 1;
}
