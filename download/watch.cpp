#include "download/watch.h"

#include <wininet.h>

#include "base/runstate.h"
#include "base/text.h"
#include "log/log.h"

namespace {

constexpr DWORD kTickMs = 250;
// The watchdog's only blocking call is the abort, which returns at once; this bounds the wait
// for its end all the same.
constexpr DWORD kWatchdogEndMs = 5000;

// The thread owns its stop event and closes it at its end: stopWatchdog only signals it, so the
// event is never closed under a thread that outlived the wait for it.
DWORD WINAPI watchdogThread(LPVOID stopEvent) {
    HANDLE stop = static_cast<HANDLE>(stopEvent);
    // Joins the worker's apartment (the multithreaded one), so the binding the worker's transfer
    // published may be used from here.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD bound = stallBoundMs();
    while (WaitForSingleObject(stop, kTickMs) == WAIT_TIMEOUT) {
        watchTick(GetTickCount(), bound);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    CloseHandle(stop);
    return 0;
}

// Milliseconds from `since` to `now`. The clock is read outside the lock, so `now` may be a
// moment older than a start stamped meanwhile: that counts as no time passed, not as the wrap of
// the unsigned difference (about 49 days).
DWORD elapsedMs(DWORD since, DWORD now) {
    LONG elapsed = static_cast<LONG>(now - since);
    return elapsed > 0 ? static_cast<DWORD>(elapsed) : 0;
}

// The size of a file on disk, or -1 when it can't be read.
long long fileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path == nullptr || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

bool quitConfirmed() {
    if (g_quitConfirmed != 0) return true;
    HANDLE cancel = g_cancelEvent;
    return cancel != nullptr && WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0;
}

DWORD awaitWithinStallBound(HANDLE event, DWORD(WINAPI* clock)()) {
    DWORD start = clock();
    DWORD bound = stallBoundMs();
    for (;;) {
        if (WaitForSingleObject(event, kTickMs) == WAIT_OBJECT_0) return 0;
        if (quitConfirmed()) return ERROR_CANCELLED;
        if (clock() - start >= bound) return ERROR_INTERNET_TIMEOUT;
    }
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
        CloseHandle(watchdog->thread);
    } else {
        // The thread may still take the watch's lock and look at the cancel event: the run's
        // release leaves both to the end of the process unless the thread has ended by then.
        writeLog(L"[WENVAROTH] The transfer watch did not end");
        g_lingeringWatchdog = watchdog->thread;
    }
    watchdog->thread = watchdog->stop = nullptr;
}

void watchBegin() {
    EnterCriticalSection(&g_watchLock);
    TransferWatch& watch = g_transferWatch;
    watch.armed = true;
    ++watch.generation;
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
            if (elapsedMs(watch.lastMoveTick, now) > 0) watch.lastMoveTick = now;
        }
        // A quit wins over a stall seen before it: the user chose to end the run.
        if (quit) {
            watch.endedBy = static_cast<int>(WatchEnd::Quit);
        } else if (watch.endedBy == static_cast<int>(WatchEnd::Ended) &&
                   elapsedMs(watch.lastMoveTick, now) >= stallBound) {
            watch.endedBy = static_cast<int>(WatchEnd::Stalled);
        }
        // Sent again at every tick while the transfer still runs: an abort can be refused, or come
        // before the protocol has started, and nothing else would end the call. Until the binding
        // exists there is nothing to abort yet.
        if (watch.endedBy != static_cast<int>(WatchEnd::Ended) && watch.binding != nullptr) {
            binding = watch.binding;
            binding->AddRef();
        }
    }
    LeaveCriticalSection(&g_watchLock);
    // Our own reference keeps the binding alive even if the transfer releases it meanwhile.
    if (binding != nullptr) {
        binding->Abort();
        binding->Release();
    }
}
