#include "download/watch.h"

#include "base/runstate.h"
#include "base/text.h"
#include "log/log.h"

namespace {

constexpr DWORD kTickMs = 250;
// The watchdog's only blocking call is the abort, which returns at once; this bounds the wait
// for its end all the same.
constexpr DWORD kWatchdogEndMs = 5000;

DWORD WINAPI watchdogThread(LPVOID stopEvent) {
    // Joins the worker's apartment (the multithreaded one), so the binding the worker's transfer
    // published may be used from here.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD bound = stallBoundMs();
    while (WaitForSingleObject(static_cast<HANDLE>(stopEvent), kTickMs) == WAIT_TIMEOUT) {
        watchTick(GetTickCount(), bound);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

}  // namespace

bool quitConfirmed() {
    if (g_quitConfirmed != 0) return true;
    HANDLE cancel = g_cancelEvent;
    return cancel != nullptr && WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0;
}

long long fileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path == nullptr || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool startWatchdog(Watchdog* watchdog) {
    watchdog->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watchdog->stop != nullptr) {
        watchdog->thread = CreateThread(nullptr, 0, watchdogThread, watchdog->stop, 0, nullptr);
    }
    if (watchdog->thread != nullptr) return true;
    writeLog(L"[WENVAROTH] Cannot start the transfer watch (%d)", GetLastError());
    if (watchdog->stop != nullptr) CloseHandle(watchdog->stop);
    watchdog->stop = nullptr;
    return false;
}

void stopWatchdog(Watchdog* watchdog) {
    if (watchdog->thread == nullptr) return;
    SetEvent(watchdog->stop);
    if (WaitForSingleObject(watchdog->thread, kWatchdogEndMs) == WAIT_OBJECT_0) {
        CloseHandle(watchdog->stop);
    } else {
        // Its event stays open: the thread still waits on it.
        writeLog(L"[WENVAROTH] The transfer watch did not end");
    }
    CloseHandle(watchdog->thread);
    watchdog->thread = watchdog->stop = nullptr;
}

void watchBegin() {
    EnterCriticalSection(&g_watchLock);
    TransferWatch& watch = g_transferWatch;
    watch.armed = true;
    ++watch.generation;
    watch.abortSent = false;
    watch.endedBy = static_cast<int>(WatchEnd::Ended);
    watch.cacheFile[0] = L'\0';
    watch.progress = 0;
    watch.lastBytes = 0;
    watch.lastMoveTick = GetTickCount();
    LeaveCriticalSection(&g_watchLock);
}

WatchEnd watchEnd() {
    EnterCriticalSection(&g_watchLock);
    IBinding* binding = g_transferWatch.binding;
    g_transferWatch.binding = nullptr;
    g_transferWatch.armed = false;
    WatchEnd ended = static_cast<WatchEnd>(g_transferWatch.endedBy);
    LeaveCriticalSection(&g_watchLock);
    if (binding != nullptr) binding->Release();
    return ended;
}

void watchBinding(IBinding* binding) {
    EnterCriticalSection(&g_watchLock);
    IBinding* previous = g_transferWatch.binding;
    g_transferWatch.binding = nullptr;
    if (binding != nullptr && g_transferWatch.armed) {
        binding->AddRef();
        g_transferWatch.binding = binding;
    }
    LeaveCriticalSection(&g_watchLock);
    if (previous != nullptr) previous->Release();
}

void watchCacheFile(const wchar_t* path) {
    EnterCriticalSection(&g_watchLock);
    if (g_transferWatch.armed && !textCopy(g_transferWatch.cacheFile, path)) {
        g_transferWatch.cacheFile[0] = L'\0';
    }
    LeaveCriticalSection(&g_watchLock);
}

void watchProgress(ULONG bytes) {
    EnterCriticalSection(&g_watchLock);
    g_transferWatch.progress = bytes;
    LeaveCriticalSection(&g_watchLock);
}

void watchTick(DWORD now, DWORD stallBound) {
    wchar_t cacheFile[kPathChars];
    EnterCriticalSection(&g_watchLock);
    bool armed = g_transferWatch.armed;
    unsigned generation = g_transferWatch.generation;
    unsigned long long bytes = g_transferWatch.progress;
    textCopy(cacheFile, g_transferWatch.cacheFile);
    LeaveCriticalSection(&g_watchLock);
    if (!armed) return;
    // Looked at outside the lock: the file system may take its time.
    long long onDisk = cacheFile[0] != L'\0' ? fileSize(cacheFile) : -1;
    if (onDisk > 0 && static_cast<unsigned long long>(onDisk) > bytes) bytes = onDisk;
    bool quit = quitConfirmed();

    IBinding* binding = nullptr;
    EnterCriticalSection(&g_watchLock);
    TransferWatch& watch = g_transferWatch;
    if (watch.armed && watch.generation == generation) {
        if (bytes != watch.lastBytes) {
            watch.lastBytes = bytes;
            watch.lastMoveTick = now;
        }
        if (watch.endedBy == static_cast<int>(WatchEnd::Ended)) {
            if (quit) {
                watch.endedBy = static_cast<int>(WatchEnd::Quit);
            } else if (now - watch.lastMoveTick >= stallBound) {
                watch.endedBy = static_cast<int>(WatchEnd::Stalled);
            }
        }
        // Until the binding exists there is nothing to abort yet: a later tick does it.
        if (watch.endedBy != static_cast<int>(WatchEnd::Ended) && !watch.abortSent &&
            watch.binding != nullptr) {
            binding = watch.binding;
            binding->AddRef();
            watch.abortSent = true;
        }
    }
    LeaveCriticalSection(&g_watchLock);
    // Our own reference keeps the binding alive even if the transfer releases it meanwhile.
    if (binding != nullptr) {
        binding->Abort();
        binding->Release();
    }
}
