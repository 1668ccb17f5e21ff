// The process-wide run state: every global of the program but the manifest lists (which the
// manifest model declares, manifest/model.h) is declared here and defined once in runstate.cpp (the
// kit folder beside its class).
// The main thread writes the settings before the worker starts; the worker makes g_kitFolder and
// writes g_runAborted, which the main thread reads only after it has waited for the worker.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <stdio.h>
#include <urlmon.h>

#include <atomic>
#include <cstdint>

// Every fixed text below is written through the bounded helpers.
#include "base/text.h"

// Widths of the fixed text buffers, terminator included.
constexpr size_t kPathChars = 260;
constexpr size_t kNameChars = 100;
constexpr size_t kUnitChars = 50;
constexpr size_t kResourceTextChars = 512;

typedef BOOL(WINAPI* Wow64DisableFsRedirectionFn)(PVOID* oldValue);
typedef BOOL(WINAPI* Wow64RevertFsRedirectionFn)(PVOID oldValue);

extern HINSTANCE g_moduleInstance;
extern int g_silentMode;
extern int g_logEnabled;
extern wchar_t g_logPath[kPathChars];
extern FILE* g_logFile;
extern wchar_t g_parentProcessPath[kPathChars];
extern wchar_t g_affiliateTag[kPathChars];
extern int g_hasAffiliateTag;
extern CRITICAL_SECTION g_stateLock;
extern Wow64DisableFsRedirectionFn g_pfnWow64DisableFsRedirection;
extern Wow64RevertFsRedirectionFn g_pfnWow64RevertFsRedirection;
extern BOOL g_isWow64;
// True when the process runs on 64-bit Windows: a 32-bit process under WOW64, or a 64-bit
// process. It picks the manifest's x64 sections; g_isWow64 alone decides file-system redirection.
extern BOOL g_isWin64;
extern wchar_t g_moduleFolder[kPathChars];
extern HMODULE g_resourceLibrary;
extern HMODULE g_resourceModule;
extern wchar_t g_textHour[kUnitChars];
extern wchar_t g_textHours[kUnitChars];
extern wchar_t g_textMinute[kUnitChars];
extern wchar_t g_textMinutes[kUnitChars];
extern wchar_t g_textSecond[kUnitChars];
extern wchar_t g_textSeconds[kUnitChars];
extern wchar_t g_formatThreeUnits[kUnitChars];
extern wchar_t g_formatTwoUnits[kUnitChars];
extern int g_osVersion;
extern wchar_t g_messageCaption[kNameChars];
extern wchar_t g_productName[kNameChars];
extern wchar_t* g_baseUrl;
// The kit folder the worker makes and holds (download/kitfolder.h, which defines it: base includes
// nothing above it); the main flow hands it over and removes it.
class KitFolder;
extern KitFolder g_kitFolder;
extern int g_runAborted;
// How the run ended, for its last log line: null while nothing ended it (a kit handed over),
// else a fixed text the step that ended it chose ("cancelled", "failed: the kit list", ...).
extern const wchar_t* g_runEnd;
extern HANDLE g_cancelEvent;
// Written and read by both threads (the dialog sets it, the worker clears it after its close).
extern std::atomic<HWND> g_progressWindow;
// The worker's close request when it came before the dialog existed; the dialog honours it
// as soon as it starts.
extern std::atomic<int> g_closeRequested;
// The dialog's progress bar and its speed and time-left texts; null when the template lacks one.
extern HWND g_progressBar;
extern HWND g_rateText;
extern HWND g_timeLeftText;
// Made, used and released on the main thread only: the worker asks for a taskbar state by a
// message to the dialog, so the object is never used outside its apartment.
extern ITaskbarList3* g_taskbarList;
// Set on the main thread when the dialog closes for a quit (the user's Yes, or a close request in
// silent mode), never for the worker's own close: the hand-over is skipped whenever it is set.
extern std::atomic<int> g_quitConfirmed;

// What the worker is blocked on, for the watchdog thread that ends a transfer when no byte has
// arrived for the stall bound or the user has quit (download/watch.h). Guarded by g_watchLock,
// which is held only to copy these fields, never across a call into the platform.
struct TransferWatch {
    bool armed;
    unsigned generation;  // counts the watched transfers, so a late tick can't touch a newer one
    IBinding* binding;    // one reference of ours, from OnStartBinding to OnStopBinding
    int endedBy;          // why the watchdog ended the transfer: 0 not ended, else a WatchEnd value
    wchar_t cacheFile[kPathChars];  // the growing cache file, once the platform names it
    ULONG progress;                 // the latest progress notification's byte count
    unsigned long long lastBytes;
    DWORD lastMoveTick;  // when the byte count last changed (or the watch began)
};
extern TransferWatch g_transferWatch;
extern CRITICAL_SECTION g_watchLock;
// The watchdog thread when it did not end within the worker's bounded wait for it, else null. It
// may still take g_watchLock and look at g_cancelEvent: releaseRunState releases those only once
// this thread has ended.
extern HANDLE g_lingeringWatchdog;

// Shared progress state: g_bytesReceived under g_stateLock; the other two indivisible.
extern uint32_t g_bytesReceived;
extern std::atomic<uint32_t> g_bytesTotal;
extern std::atomic<double> g_transferRate;

// The thread that runs the main flow and the dialog; texts loaded on it never share a buffer with
// texts loaded on the worker.
extern DWORD g_mainThreadId;

// A string-table text by id from g_resourceModule (the resource library when loaded, else the
// executable). The main thread and the worker each have a buffer of their own, so a text stays
// valid until the same thread's next call, whatever the other thread loads meanwhile.
const wchar_t* getResourceText(UINT id);

// Closes and frees what the run holds, in the documented order.
void releaseRunState();

// Ends the process at once with exit code 0, for failures that leave nothing sensible to do (no
// memory for the C++ library, a broken guard word): no clean-up runs, nothing is unwound.
[[noreturn]] void endProgram();
