// The transfer watch: no network wait may hold the run for ever, and a confirmed quit must end the
// transfer at once. A transfer call blocks the worker and pumps no messages, and the platform's
// own time-outs do not reach it, so a watchdog thread looks at it four times a second: when no
// byte has arrived for the stall bound, or the user has quit, it aborts the transfer through the
// binding the transfer callback published (IBinding::Abort, which ends the blocked call at once).
// Bytes are judged by the growing cache file the platform names early (and by the progress
// count), not by the number of notifications, which can be one per megabyte. Reads from the
// connection (download/transfer.h) need no watchdog: their calls run on a thread of their own, and
// the worker, waiting for each block, judges the stall bound and the quit itself.
#pragma once

#include <windows.h>
#include <urlmon.h>

// How long a network wait may go without a single byte before it counts as failed, in
// milliseconds: 60 s in the shipped program (download/stallbound.cpp); the test variant of the
// executable replaces that file to shorten it.
DWORD stallBoundMs();

// The user (or, in silent mode, the system) asked the run to end: the dialog closed for a quit
// and signalled the cancel event. The worker's own close comes after its last step, so on the
// worker's side the event alone is enough; the flag covers a quit before the event existed.
bool quitConfirmed();

// Waits for `event`, looking four times a second, until it is signalled (0), the user quits
// (ERROR_CANCELLED) or the stall bound has passed since the call by `clock`
// (ERROR_INTERNET_TIMEOUT): the wait of a read that runs on a thread of its own, which neither
// the platform's time-outs nor the watchdog reach. The tick count wraps every 49.7 days; the
// unsigned difference spans the wrap. Tests give a clock of their own.
DWORD awaitWithinStallBound(HANDLE event, DWORD(WINAPI* clock)() = GetTickCount);

// Why a watched transfer ended, as far as the watchdog is concerned.
enum class WatchEnd { Ended = 0, Stalled = 1, Quit = 2 };

// The watchdog thread, for the length of the worker's run. Start gives false when the thread (or
// its stop event) can't be made: without it a stall would hang the run, so the run is given up.
// Stop signals the thread and waits a bounded time for its end; a thread that did not end is left
// in g_lingeringWatchdog, and the thread closes its stop event itself.
struct Watchdog {
    HANDLE thread = nullptr;
    HANDLE stop = nullptr;
};
bool startWatchdog(Watchdog* watchdog);
void stopWatchdog(Watchdog* watchdog);

// Around each blocking transfer call, on the worker's thread.
void watchBegin();
WatchEnd watchEnd();

// From the transfer callback: the binding (null once it stopped; the watch keeps a reference of
// its own meanwhile), the cache file's name and the progress count.
void watchBinding(IBinding* binding);
void watchCacheFile(const wchar_t* path);
void watchProgress(ULONG bytes);

// One look at the watched transfer at time `now`; the watchdog's tick, exposed for tests. After a
// stall or a quit it aborts the transfer again at every tick until the transfer stops.
void watchTick(DWORD now, DWORD stallBound);
