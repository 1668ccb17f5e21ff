#include "download/transfer.h"

#include <urlmon.h>
#include <wininet.h>

#include <cstdlib>
#include <cwctype>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "base/text.h"
#include "download/digest.h"
#include "download/localfile.h"
#include "download/progress.h"
#include "download/remotesize.h"
#include "download/url.h"
#include "log/log.h"
#include "sys/runcommand.h"

namespace {

constexpr DWORD kPollMs = 250;
// Bytes per read from the connection: WinINet hands over what has arrived, up to this.
constexpr DWORD kReadStepBytes = 64 * 1024;
// Past any cached copy, and nothing written to the cache: a copy there could be anybody's.
constexpr DWORD kFreshFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE;
// The bytes on the wire are the file's: a server that compresses anyway is refused, since
// WinINet's own decoding hides the announced length and ends a cut stream without an error
// (Wine 8), and the length is the one check a file without a digest has.
const wchar_t kIdentityOnly[] = L"Accept-Encoding: identity\r\n";

// One read from the connection, shared by the caller and the thread that makes the platform's
// calls: the caller may stop waiting (a stall, a quit) while the thread is blocked in the
// platform, so the last of the two to let go frees it. The thread hands over the answer's
// headers, then each block it read, one at a time: it sets `ready` and waits for `taken`.
struct ConnectionRead {
    LONG owners;
    LONG abandoned;
    HANDLE ready;
    HANDLE taken;
    HINTERNET root;
    // The headers: the status (0: none), the announced length (-1: none), whether the body
    // comes encoded or from a cache.
    DWORD status;
    long long announced;
    bool encoded;
    bool fromCache;
    // The latest block: `got` bytes, none at the end; `error` when the read failed.
    DWORD error;
    DWORD got;
    wchar_t url[kPathChars];
    unsigned char block[kReadStepBytes];
};

void letGo(ConnectionRead* read) {
    if (InterlockedDecrement(&read->owners) != 0) return;
    if (read->ready != nullptr) CloseHandle(read->ready);
    if (read->taken != nullptr) CloseHandle(read->taken);
    free(read);
}

void closeRoot(ConnectionRead* read) {
    HINTERNET root = static_cast<HINTERNET>(InterlockedExchangePointer(&read->root, nullptr));
    if (root != nullptr) InternetCloseHandle(root);
}

// Hands the latest headers or block over; false once the caller has gone.
bool handOver(ConnectionRead* read) {
    SetEvent(read->ready);
    while (WaitForSingleObject(read->taken, kPollMs) == WAIT_TIMEOUT) {
        if (read->abandoned != 0) return false;
    }
    return read->abandoned == 0;
}

void readHeaders(ConnectionRead* read, HINTERNET request) {
    if (readContentLength(request, &read->announced) != 0) read->announced = -1;
    wchar_t encoding[32] = {};
    DWORD length = sizeof encoding;
    read->encoded =
        HttpQueryInfoW(request, HTTP_QUERY_CONTENT_ENCODING, encoding, &length, nullptr) &&
        _wcsicmp(encoding, L"identity") != 0;
    DWORD flags = 0;
    length = sizeof flags;
    read->fromCache =
        InternetQueryOptionW(request, INTERNET_OPTION_REQUEST_FLAGS, &flags, &length) &&
        (flags & INTERNET_REQFLAG_FROM_CACHE) != 0;
}

DWORD WINAPI connectionThread(LPVOID parameter) {
    ConnectionRead* read = static_cast<ConnectionRead*>(parameter);
    DWORD status = 0;
    HINTERNET request =
        openFollowingRedirects(read->root, read->url, kFreshFlags, kIdentityOnly, &status);
    if (request == nullptr || status == 0) {
        read->error = GetLastError() != 0 ? GetLastError() : ERROR_INTERNET_INTERNAL_ERROR;
    } else {
        read->status = status;
        readHeaders(read, request);
    }
    bool going = handOver(read) && read->error == 0;
    DWORD lastBytes = 0, lastTick = GetTickCount();
    while (going) {
        // A read waits until its whole buffer is filled, which on a slow but steady line could
        // hold its bytes past the stall bound; so it waits for the first bytes, then asks for
        // what has arrived, or for what the line brought in a quarter of a second of the last
        // block, when that is more (only a line whose rate falls some 240-fold within one block
        // could then seem to stall). Reads of what has arrived alone (8 KB under Wine) cost three
        // to four times as much per megabyte as whole blocks.
        DWORD available = 0;
        read->got = 0;
        bool fine = InternetQueryDataAvailable(request, &available, 0, 0) != FALSE;
        DWORD now = GetTickCount();
        unsigned long long quarter = static_cast<unsigned long long>(lastBytes) * 250 /
                                     (now != lastTick ? now - lastTick : 1);
        DWORD wanted = quarter > available
                           ? static_cast<DWORD>(quarter < kReadStepBytes ? quarter : kReadStepBytes)
                           : available;
        if (fine && available > 0) {
            fine = InternetReadFile(request, read->block,
                                    wanted < kReadStepBytes ? wanted : kReadStepBytes,
                                    &read->got) != FALSE;
        }
        if (!fine) {
            read->error = GetLastError() != 0 ? GetLastError() : ERROR_INTERNET_INTERNAL_ERROR;
        }
        lastBytes = read->got;
        lastTick = now;
        going = handOver(read) && read->error == 0 && read->got != 0;
    }
    if (request != nullptr) InternetCloseHandle(request);
    closeRoot(read);
    letGo(read);
    return 0;
}

// The platform's user agent, the one its cache transfers send, so that a server or a filter
// treats both kinds of transfer alike.
void userAgent(wchar_t (&agent)[256]) {
    char narrow[256];
    DWORD length = sizeof narrow;
    if (ObtainUserAgentString(0, narrow, &length) != S_OK ||
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, agent, 256) == 0) {
        textCopy(agent, L"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    }
}

// Takes one block: into the file, the kept bytes and the progress. S_OK, S_FALSE past the kept
// bytes' limit, INET_E_DOWNLOAD_FAILURE when the file takes no more (logged).
HRESULT takeBlock(const ConnectionRead& read, const ConnectionTarget& target, long long* received) {
    DWORD written = 0;
    if (target.file != INVALID_HANDLE_VALUE &&
        (!WriteFile(target.file, read.block, read.got, &written, nullptr) || written != read.got)) {
        writeLog(L"[WENVAROTH] Cannot write the file from %s (%d)", read.url, GetLastError());
        return INET_E_DOWNLOAD_FAILURE;
    }
    *received += read.got;
    if (target.countProgress) countReceived(read.got);
    if (target.kept == nullptr) return S_OK;
    size_t room = target.keepLimit + 1 - target.kept->size();
    target.kept->insert(target.kept->end(), read.block,
                        read.block + (read.got < room ? read.got : room));
    return target.kept->size() > target.keepLimit ? S_FALSE : S_OK;
}

// What the headers say of the answer: S_OK to read its body, else INET_E_DOWNLOAD_FAILURE
// (logged).
HRESULT judgeHeaders(const ConnectionRead& read) {
    if (read.error != 0) {
        writeLog(L"[WENVAROTH] No answer from %s (%lu)", read.url, read.error);
    } else if (read.status < 200 || read.status > 299) {
        writeLog(L"[WENVAROTH] The server answered %lu for %s", read.status, read.url);
    } else if (read.encoded) {
        writeLog(L"[WENVAROTH] The server sent %s compressed, although asked not to", read.url);
    } else if (read.fromCache) {
        writeLog(L"[WENVAROTH] A cached copy was served for %s", read.url);
    } else {
        return S_OK;
    }
    return INET_E_DOWNLOAD_FAILURE;
}

// Runs the read of `read` (made, with its thread's share counted): hands its blocks to `target`
// until the end, a failure, a stall or a quit.
HRESULT followRead(ConnectionRead* read, long long expected, const ConnectionTarget& target) {
    DWORD waited = awaitWithinStallBound(read->ready);
    HRESULT result = waited != 0 ? S_OK : judgeHeaders(*read);
    long long received = 0;
    DWORD start = GetTickCount(), sampled = start;
    while (waited == 0 && result == S_OK) {
        SetEvent(read->taken);
        waited = awaitWithinStallBound(read->ready);
        if (waited != 0) break;
        if (read->error != 0) {
            writeLog(L"[WENVAROTH] The transfer of %s broke off (%lu)", read->url, read->error);
            result = INET_E_DOWNLOAD_FAILURE;
        } else if (read->got == 0) {
            // Both lengths bind where known: the list's (or size query's) and the answer's own.
            if ((expected >= 0 && received != expected) ||
                (read->announced >= 0 && received != read->announced)) {
                writeLog(L"[WENVAROTH] Received %I64d bytes of %s, expected %I64d", received,
                         read->url, expected >= 0 ? expected : read->announced);
                result = INET_E_DOWNLOAD_FAILURE;
            }
            break;
        } else {
            result = takeBlock(*read, target, &received);
            if (target.countProgress) sampleRate(received, start, GetTickCount(), &sampled);
        }
    }
    if (waited == ERROR_CANCELLED) return E_ABORT;
    if (waited == ERROR_INTERNET_TIMEOUT) {
        writeLog(L"[WENVAROTH] Nothing received for %lu s from %s", stallBoundMs() / 1000,
                 read->url);
        return INET_E_CONNECTION_TIMEOUT;
    }
    return result;
}

// The platform reports S_OK for an HTTP error answer and for a body cut short (Wine): such a
// file must never reach the kit's installer. False (logged) when the cached file is not whole.
bool arrivedWhole(const QueuedFile& queued, const CBindStatusCallbackImpl& callback,
                  const wchar_t* url, long long received) {
    if (!callback.httpStatusAcceptable()) {
        writeLog(L"[WENVAROTH] The server answered %lu for %s", callback.m_httpStatus, url);
        return false;
    }
    if (!receivedWhole(received, queued.expectedBytes, callback.m_lastProgressMax)) {
        long long expected = queued.expectedBytes >= 0
                                 ? queued.expectedBytes
                                 : static_cast<long long>(callback.m_lastProgressMax);
        writeLog(L"[WENVAROTH] Received %I64d bytes of %s, expected %I64d", received, url,
                 expected);
        return false;
    }
    return true;
}

// How one attempt at a file ended: its step, and for a checked file whether its digest matched.
struct Attempt {
    Step step;
    bool matched;
};

// One transfer of a checked file through the URL cache, its cache file locked from before its
// size check to the end of its copy into `destination`, the digest computed over the bytes
// copied.
Attempt fetchThroughCache(const QueuedFile& queued, const wchar_t* url,
                          const wchar_t* destination) {
    TransferCallback callback(g_cancelEvent);
    if (callback.get() == nullptr) return {Step::Failed, false};
    wchar_t cacheFile[kPathChars] = {};
    WatchEnd ended = WatchEnd::Ended;
    HRESULT result = watchedTransfer(url, cacheFile, callback.get(), &ended);
    bool quit = ended == WatchEnd::Quit || callback->m_aborted != 0 || quitConfirmed();
    // Opened before its size is checked, and kept from writers until it is copied: the cache
    // folder is the user's, so only then are the bytes checked the bytes copied.
    OwnedHandle cached;
    LARGE_INTEGER cachedBytes = {};
    if (result == S_OK && !quit) {
        cached.reset(openCachedFile(cacheFile));
        if (!cached.valid() || !GetFileSizeEx(cached.get(), &cachedBytes)) {
            result = INET_E_DOWNLOAD_FAILURE;
        }
    }
    if (result == S_OK && !quit &&
        !arrivedWhole(queued, *callback.get(), url, cachedBytes.QuadPart)) {
        cached.reset();
        // Gone from the URL cache, so that a second run fetches it again rather than reusing it.
        DeleteUrlCacheEntryW(url);
        result = INET_E_DOWNLOAD_FAILURE;
    }
    if (result != S_OK) {
        writeLog(L"[WENVAROTH] Cannot download file %s. Error :%lu", url,
                 static_cast<unsigned long>(result));
    }
    // The user chose to quit: telling them the download had a problem would blame the network
    // for their own choice.
    if (quit) return {quitStep(), false};
    if (result != S_OK) return {Step::Failed, false};

    writeLog(L"[WENVAROTH] Copying %s to %s", cacheFile, destination);
    Md5 digest;
    wchar_t received[kDigestChars] = {};
    if (!g_kitFolder.copyIn(cached.get(), cachedBytes.QuadPart, cacheFile, destination, &digest) ||
        !digest.finish(received)) {
        return {Step::Failed, false};
    }
    cached.reset();
    if (sameDigest(queued.digest.c_str(), received)) return {Step::Completed, true};
    writeLog(L"[WENVAROTH] Checksum mismatch for %s: expected %s, received %s", url,
             queued.digest.c_str(), received);
    // What was counted of this attempt goes: a second one counts its bytes anew.
    countReceived(0u - static_cast<uint32_t>(callback->m_lastProgress));
    DeleteUrlCacheEntryW(url);
    return {Step::Completed, false};
}

// One read of a file without a digest from the connection into `destination`.
Step fetchFromConnection(const QueuedFile& queued, const wchar_t* url, const wchar_t* destination) {
    OwnedHandle file(g_kitFolder.createFile(destination));
    if (!file.valid()) {
        writeLog(L"[WENVAROTH] Cannot create file %s (%d)", destination, GetLastError());
        return Step::Failed;
    }
    ConnectionTarget target;
    target.file = file.get();
    target.countProgress = true;
    HRESULT result = readFromConnection(url, queued.expectedBytes, target);
    if (result == E_ABORT || quitConfirmed()) return quitStep();
    if (result == S_OK) return Step::Completed;
    writeLog(L"[WENVAROTH] Cannot download file %s. Error :%lu", url,
             static_cast<unsigned long>(result));
    return Step::Failed;
}

}  // namespace

Step quitStep() {
    writeLog(L"[WENVAROTH] Download canceled!");
    g_runEnd = L"cancelled by the user";
    return Step::Cancelled;
}

long long promisedLength(int32_t size) { return size > 0 && size != INT32_MAX ? size : -1; }

bool receivedWhole(long long received, long long expected, unsigned long long announced) {
    if (received < 0) return false;
    if (expected >= 0) return received == expected;
    return announced == 0 || static_cast<unsigned long long>(received) == announced;
}

bool sameDigest(const wchar_t* expected, const wchar_t* received) {
    return _wcsicmp(expected, received) == 0;
}

HRESULT watchedTransfer(const wchar_t* url, wchar_t* cacheFile, CBindStatusCallbackImpl* callback,
                        WatchEnd* ended) {
    watchBegin();
    HRESULT result = URLDownloadToCacheFileW(nullptr, url, cacheFile, kPathChars, 0, callback);
    *ended = watchEnd();
    // A transfer that completed as the watchdog gave up on it is kept: its bytes are checked.
    if (*ended == WatchEnd::Stalled && result != S_OK) {
        writeLog(L"[WENVAROTH] Nothing received for %lu s from %s", stallBoundMs() / 1000, url);
        result = INET_E_CONNECTION_TIMEOUT;
    }
    return result;
}

HRESULT readFromConnection(const wchar_t* url, long long expected, const ConnectionTarget& target) {
    ConnectionRead* read = static_cast<ConnectionRead*>(calloc(1, sizeof(ConnectionRead)));
    if (read == nullptr) {
        writeLog(L"[WENVAROTH] Out of memory reading %s", url);
        return INET_E_DOWNLOAD_FAILURE;
    }
    textCopy(read->url, url);
    read->owners = 1;
    read->ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    read->taken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    wchar_t agent[256];
    userAgent(agent);
    read->root = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HANDLE thread = nullptr;
    if (read->ready != nullptr && read->taken != nullptr && read->root != nullptr) {
        read->owners = 2;
        thread = CreateThread(nullptr, 0, connectionThread, read, 0, nullptr);
        if (thread == nullptr) read->owners = 1;
    }
    if (thread == nullptr) {
        writeLog(L"[WENVAROTH] Cannot start reading %s (%d)", url, GetLastError());
        closeRoot(read);
        letGo(read);
        return INET_E_DOWNLOAD_FAILURE;
    }
    CloseHandle(thread);
    HRESULT result = followRead(read, expected, target);
    // The thread goes on only to its end: told so, and its root closed, which ends a blocked read
    // on Windows; where the platform does not (Wine), it is left to its wait and frees the read
    // if it ever returns.
    InterlockedExchange(&read->abandoned, 1);
    SetEvent(read->taken);
    if (result != S_OK) closeRoot(read);
    letGo(read);
    return result;
}

Step transferFile(const QueuedFile& queued) {
    const DownloadableFile& record = queued.file;
    if (quitConfirmed()) return quitStep();
    wchar_t url[kPathChars];
    if (!composeFileUrl(record, url)) return Step::Failed;
    wchar_t folder[kPathChars];
    wchar_t destination[kPathChars];
    if (!g_kitFolder.makeFolder(record.relativePath.get(), folder)) return Step::Failed;
    if (!textCopy(destination, folder) || !pathJoin(destination, record.name.get())) {
        writeLog(
            L"[WENVAROTH] Destination path too long for %s: %s\\%s is %u characters, at "
            L"most %u fit",
            record.name.get(), folder, record.name.get(),
            static_cast<unsigned>(wcslen(folder) + 1 + wcslen(record.name.get())),
            static_cast<unsigned>(kPathChars - 1));
        return Step::Failed;
    }

    writeLog(L"[WENVAROTH] Downloading: %s (size %d)", url, record.size);
    Step step = Step::Completed;
    if (queued.digest.empty()) {
        step = fetchFromConnection(queued, url, destination);
    } else {
        Attempt attempt = fetchThroughCache(queued, url, destination);
        if (attempt.step == Step::Completed && !attempt.matched) {
            writeLog(L"[WENVAROTH] Downloading: %s (size %d)", url, record.size);
            attempt = fetchThroughCache(queued, url, destination);
            if (attempt.step == Step::Completed && !attempt.matched) {
                writeLog(L"[WENVAROTH] Cannot download file %s. Error :%lu", url,
                         static_cast<unsigned long>(INET_E_DOWNLOAD_FAILURE));
                attempt.step = Step::Failed;
            }
        }
        step = attempt.step;
    }
    if (step != Step::Completed) return step;
    if (record.autorun) {
        // Started by path: only while that path still leads into the folder held.
        if (!g_kitFolder.stillAtItsPath()) return Step::Failed;
        wchar_t commandLine[kPathChars];
        textCopy(commandLine, destination);
        RunCommand(destination, commandLine, folder);
        g_kitFolder.removeFile(destination);
    }
    // A quit during the copy or the autorun program stops the run before anything else happens.
    return quitConfirmed() ? quitStep() : Step::Completed;
}
