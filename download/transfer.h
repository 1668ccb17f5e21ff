// Transfers and their outcome, below the worker's steps (the kit list, the prerequisites, the
// queue): a transfer into the URL cache under the transfer watch, whose bytes are trusted only when
// the kit list's digest for them matches the bytes copied; and a read of the answer itself from the
// connection, past any cached copy, for what has no digest to check (the kit list, prerequisites,
// kit files listed without one). The URL cache belongs to the user, and any program of the user
// may rewrite a cache file while its transfer runs: a length cannot tell, a digest can.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/widestring.h"
#include "download/kitfolder.h"
#include "download/watch.h"
#include "manifest/model.h"

class CBindStatusCallbackImpl;

// How a step of the worker ended. A step logs its own details; the worker alone turns Failed
// into what the user learns (the taskbar's error state and string 121, or its log line), and
// Unwritable (the program's own folder takes no file) the same way with a message of its own;
// Failed, Unwritable and Cancelled abandon the run.
enum class Step { Completed, Failed, Cancelled, Unwritable };

// Logs "[WENVAROTH] Download canceled!" and gives Cancelled: for a step that ends on a quit.
Step quitStep();

// One file of the worker's queue: a deep copy of its record, the length the received file must
// have when one is known (kit files: the kit list's size; prerequisites: the size query's), else
// -1, and the kit list's MD5 digest for it (empty: none, the file then comes from the connection).
struct QueuedFile {
    DownloadableFile file;
    long long expectedBytes = -1;
    WideString digest;
};

// The length a kit-list or queried size promises, or -1 (unknown) for one that cannot be a real
// length: 0 or less (a failed query, a size token without digits) or 2147483647, where the kit
// list clamps a larger value.
long long promisedLength(int32_t size);
// Whether a transferred file of `received` bytes (-1: unreadable) is whole: it has the expected
// length when one is known, else the length the transfer announced (0: none, any length is taken).
bool receivedWhole(long long received, long long expected, unsigned long long announced);
// Whether two digests in hexadecimal are the same, whatever the case of their letters.
bool sameDigest(const wchar_t* expected, const wchar_t* received);

// One transfer call under the transfer watch, into the URL cache with the cache file's name in
// `cacheFile` (260 characters). `*ended` tells whether the watchdog ended it; after a stall
// (logged) the result is INET_E_CONNECTION_TIMEOUT.
HRESULT watchedTransfer(const wchar_t* url, wchar_t* cacheFile, CBindStatusCallbackImpl* callback,
                        WatchEnd* ended);

// Where a read from the connection puts the answer's body: written through `file` when it is
// valid, kept in `kept` when given (at most `keepLimit` + 1 bytes: a longer body ends the read
// with S_FALSE, unread beyond), counted into the window's progress when `countProgress`.
struct ConnectionTarget {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::vector<unsigned char>* kept = nullptr;
    size_t keepLimit = 0;
    bool countProgress = false;
};

// Reads `url` from the server itself: past any cached copy (a forced reload, nothing written to
// the URL cache), identity encoding asked for, redirects followed by hand under the size query's
// bound. Only a 2xx answer that is not served from a cache, has no other encoding and whose body
// comes to its announced length (and to `expected`, when not -1) is taken. The platform's calls
// run on a thread of their own, which the caller leaves behind on a stall (no byte for the stall
// bound) or the user's quit: under Wine nothing else ends a blocked read. S_OK when whole; S_FALSE
// when `target.kept` went past its limit; E_ABORT after a quit; INET_E_CONNECTION_TIMEOUT after a
// stall; INET_E_DOWNLOAD_FAILURE for any other failure. Every failure but the quit is logged.
HRESULT readFromConnection(const wchar_t* url, long long expected, const ConnectionTarget& target);

// Transfers one queued file into the kit folder (g_kitFolder), and runs it when it is marked so.
// A file with a digest comes through the URL cache and is checked as it is copied; a mismatch
// (logged) removes the cache's entry and fetches it once more, and a second one fails. A file
// without comes from the connection (logged once).
Step transferFile(const QueuedFile& queued);
