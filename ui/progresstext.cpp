#include "ui/progresstext.h"

#include "base/runstate.h"
#include "base/text.h"
#include "res/resource.h"
#include "ui/progressdialog.h"

uint32_t progressPercent(uint32_t received, uint32_t total) {
    if (total == 0) return 0;
    double percent = static_cast<double>(received) / static_cast<double>(total) * 100.0;
    // At most 4294967295 * 100, which a 64-bit integer holds exactly enough.
    return static_cast<uint32_t>(static_cast<uint64_t>(percent));
}

bool secondsLeft(uint32_t received, uint32_t total, double rate, uint32_t* seconds) {
    if (!(rate >= 1.0)) return false;
    if (received >= total) {
        // The total missed something (files of unknown size) or the last bytes are in: nothing
        // known remains, rather than a wrapped difference of some million hours.
        *seconds = 0;
        return true;
    }
    uint64_t wholeRate = rate >= 4294967296.0 ? 0xFFFFFFFFull : static_cast<uint64_t>(rate);
    *seconds = static_cast<uint32_t>((total - received) / (wholeRate * 1024));
    return true;
}

UINT rateUnitId(double rate) { return rate < 1000.0 ? IDS_KBPS : IDS_MBPS; }

bool composeRateText(wchar_t* out, size_t capacity, double rate, const wchar_t* unit) {
    // The threshold is 1000 while the divisor is 1024: 1000.0 shows as 0.98 megabytes.
    double shown = rate < 1000.0 ? rate : rate * 0.0009765625;
    if (textFormat(out, capacity, L"%4.2lf %s", shown, unit)) return true;
    textFormat(out, capacity, L"%4.2lf", shown);
    return false;
}

namespace {

const wchar_t* unitWord(int number, const wchar_t* singular, const wchar_t* plural) {
    return number == 1 ? singular : plural;
}

bool composeTimeLeft(wchar_t* out, size_t capacity, uint32_t seconds) {
    int hours = static_cast<int>(seconds / 3600);
    int minutes = static_cast<int>(seconds / 60 % 60);
    int rest = static_cast<int>(seconds % 60);
    if (seconds < 60) {
        return textFormat(out, capacity, L"%d %s", rest,
                          unitWord(rest, g_textSecond, g_textSeconds));
    }
    if (seconds < 3600) {
        return textFormat(out, capacity, g_formatTwoUnits, minutes,
                          unitWord(minutes, g_textMinute, g_textMinutes), rest,
                          unitWord(rest, g_textSecond, g_textSeconds));
    }
    return textFormat(out, capacity, g_formatThreeUnits, hours,
                      unitWord(hours, g_textHour, g_textHours), minutes,
                      unitWord(minutes, g_textMinute, g_textMinutes), rest,
                      unitWord(rest, g_textSecond, g_textSeconds));
}

bool postText(HWND window, UINT message, const wchar_t* text) {
    if (window == nullptr) return false;
    wchar_t* copy = newTextCopy(text);
    if (copy == nullptr) return false;
    if (!PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(copy))) {
        free(copy);
        return false;
    }
    return true;
}

}  // namespace

void formatTimeLeft(wchar_t* out, size_t capacity, uint32_t seconds) {
    if (composeTimeLeft(out, capacity, seconds)) return;
    // Words from a resource library too long for the control: a form that needs no words.
    textFormat(out, capacity, L"%d:%02d:%02d", static_cast<int>(seconds / 3600),
               static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

bool postRateText(HWND window, const wchar_t* text) {
    return postText(window, WM_PROGRESS_RATE, text);
}

bool postTimeLeftText(HWND window, const wchar_t* text) {
    return postText(window, WM_PROGRESS_TIMELEFT, text);
}

void updateProgressDisplay(HWND window, UINT_PTR timerId) {
    // One reading of each: the worker may store a new sample while this tick composes its texts.
    double rate = g_transferRate.load();
    uint32_t total = g_bytesTotal.load();
    if (timerId != PROGRESS_TIMER_ID || !(rate > 0.0) || total == 0 || window == nullptr) return;
    EnterCriticalSection(&g_stateLock);
    uint32_t received = g_bytesReceived;
    LeaveCriticalSection(&g_stateLock);

    PostMessageW(window, WM_PROGRESS_PERCENT, progressPercent(received, total), 0);

    wchar_t text[kProgressTextChars];
    UINT unitId = rateUnitId(rate);
    if (!composeRateText(text, kProgressTextChars, rate, getResourceText(unitId))) {
        // A resource library's unit too long for the control: the executable's own, which fits.
        wchar_t unit[kUnitChars];
        if (LoadStringW(g_moduleInstance, unitId, unit, static_cast<int>(kUnitChars)) <= 0) {
            unit[0] = L'\0';
        }
        composeRateText(text, kProgressTextChars, rate, unit);
    }
    postRateText(window, text);

    uint32_t seconds = 0;
    if (secondsLeft(received, total, rate, &seconds)) {
        formatTimeLeft(text, kProgressTextChars, seconds);
    } else {
        // Under one kilobyte a second there is no whole unit to divide by: no estimate yet.
        textCopy(text, kProgressTextChars, getResourceText(IDS_ESTIMATING));
    }
    postTimeLeftText(window, text);
}
