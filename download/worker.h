// The download worker thread: kit list, installed-product check, queue, kit folder,
// transfers through the URL cache, copies into the kit folder, autorun files.
#pragma once

#include <windows.h>

#include <cstdint>

#include "download/watch.h"
#include "manifest/model.h"

class CBindStatusCallbackImpl;

// One file of the worker's queue: a deep copy of its record, and the length the received file
// must have when one is known (kit files: the kit list's size; prerequisites: the size query's),
// else -1.
struct QueuedFile {
    DownloadableFile file;
    long long expectedBytes = -1;
};

// The length a kit-list or queried size promises, or -1 (unknown) for one that cannot be a real
// length: 0 or less (a failed query, a size token without digits) or 2147483647, where the kit
// list clamps a larger value.
long long promisedLength(int32_t size);
// Whether a transferred file of `received` bytes (-1: unreadable) is whole: it has the expected
// length when one is known, else the length the transfer announced (0: none, any length is taken).
bool receivedWhole(long long received, long long expected, unsigned long long announced);

// How a step of the worker ended. A step logs its own details; the worker alone turns Failed
// into what the user learns (the taskbar's error state and string 121, or its log line), and
// Unwritable (the program's own folder takes no file) the same way with a message of its own;
// Failed, Unwritable and Cancelled abandon the run.
enum class Step { Completed, Failed, Cancelled, Unwritable };

DWORD WINAPI downloadWorker(LPVOID unused);
// Asks the progress dialog to close without a question; remembered when the dialog does not
// exist yet.
void closeProgressWindow();
// The Windows Installer install state of a product (MsiQueryProductStateW); -1 (unknown) when
// Windows Installer cannot be loaded.
int32_t queryProductState(const wchar_t* productCode);
// Whether an install state means "not installed": unknown (-1), advertised (1), and also
// "invalid argument" (-2), which says nothing about the machine, only that the code was no
// product code: counting it as installed would skip a kit or prerequisite nobody looked for.
bool productMissing(int32_t state);
// What an install state means, in a few words for the log.
const wchar_t* installStateMeaning(int32_t state);

// Logs "[WENVAROTH] Download canceled!" and gives Cancelled: for a step that ends on a quit.
Step quitStep();

// One transfer call under the transfer watch, into the URL cache with the cache file's name in
// `cacheFile` (260 characters). `*ended` tells whether the watchdog ended it; after a stall
// (logged) the result is INET_E_CONNECTION_TIMEOUT.
HRESULT watchedTransfer(const wchar_t* url, wchar_t* cacheFile, CBindStatusCallbackImpl* callback,
                        WatchEnd* ended);
