// The figures the progress window shows once a second: the overall percentage, the speed and the
// estimated time left, computed from the shared progress state and posted to the dialog.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Width of a composed speed or time-left text, terminator included.
constexpr size_t kProgressTextChars = 50;

// received / total * 100, truncated; more than 100 when more bytes arrived than announced. The
// low 32 bits of the whole result, so that no input can make the conversion undefined.
uint32_t progressPercent(uint32_t received, uint32_t total);

// Seconds until `total` bytes are in at `rate` (kilobytes of 1024 bytes per second, its whole
// part only). False when no estimate can be made: a rate below 1.0 has no whole kilobyte to
// divide by. At or past the announced total nothing is known to remain: 0 seconds.
bool secondsLeft(uint32_t received, uint32_t total, double rate, uint32_t* seconds);

// The string-table id of the speed unit: kilobytes below 1000.0, megabytes from there on.
UINT rateUnitId(double rate);
// "%4.2lf %s" with the rate (divided by 1024 from 1000.0 on) and the unit. False when the unit
// makes the text too long; `out` then holds the number alone.
bool composeRateText(wchar_t* out, size_t capacity, double rate, const wchar_t* unit);

// The time left in words from the unit texts and formats loaded at start-up. When the words of a
// resource library make it too long, the compact "h:mm:ss" form, which always fits.
void formatTimeLeft(wchar_t* out, size_t capacity, uint32_t seconds);

// Heap copies of `text` posted to `window` as WM_PROGRESS_RATE or WM_PROGRESS_TIMELEFT; the
// window owns a posted copy. False, with nothing left behind, when the copy cannot be made or
// posted.
bool postRateText(HWND window, const wchar_t* text);
bool postTimeLeftText(HWND window, const wchar_t* text);

// One timer tick: posts percent, speed and time left to `window`, or nothing while no rate or no
// total is known, or when the tick is not the progress timer's.
void updateProgressDisplay(HWND window, UINT_PTR timerId);
