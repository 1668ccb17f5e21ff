#include "log/log.h"

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>

#include "base/runstate.h"
#include "base/text.h"
#include "sys/callerrights.h"

void openLogFile(DWORD parentId) {
    if (g_logEnabled == 0) return;
    g_logEnabled = 0;
    const wchar_t* reason = nullptr;
    HANDLE file = openFileForCaller(g_logPath, parentId, &reason);
    if (file == INVALID_HANDLE_VALUE) {
        // The run goes on without a log; only a debugger learns why.
        wchar_t text[kPathChars + 100];
        if (textFormat(text, kPathChars + 100, L"[WENVAROTH] No log at %s: %s\n", g_logPath,
                       reason)) {
            OutputDebugStringW(text);
        }
        return;
    }
    // Text mode, appending: the same lines, line ends and flushing as a file opened by name.
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
    if (descriptor == -1) {
        CloseHandle(file);
        return;
    }
    g_logFile = _wfdopen(descriptor, L"a");
    if (g_logFile == nullptr) {
        _close(descriptor);
        return;
    }
    g_logEnabled = 1;
}

namespace {

// The file gets 8-bit text: characters up to U+00FF as the byte of the same number, any other
// character as "?", so that one unrepresentable character never cuts a line short.
void writeLineToFile(const wchar_t* message, const SYSTEMTIME& now) {
    char stamp[32];
    _snprintf(stamp, sizeof stamp, "[%02ld:%02ld:%02ld:%03ld] ", static_cast<long>(now.wHour),
              static_cast<long>(now.wMinute), static_cast<long>(now.wSecond),
              static_cast<long>(now.wMilliseconds));
    stamp[sizeof stamp - 1] = '\0';
    size_t stampLength = strlen(stamp);
    size_t messageLength = wcslen(message);
    char* line = static_cast<char*>(malloc(stampLength + messageLength + 2));
    if (line == nullptr) return;
    memcpy(line, stamp, stampLength);
    for (size_t i = 0; i < messageLength; ++i) {
        line[stampLength + i] = message[i] <= 0xFF ? static_cast<char>(message[i]) : '?';
    }
    line[stampLength + messageLength] = '\n';
    line[stampLength + messageLength + 1] = '\0';
    // One write per line: the stream's own lock keeps lines of the two threads whole.
    fputs(line, g_logFile);
    fflush(g_logFile);
    free(line);
}

}  // namespace

void writeLog(const wchar_t* format, ...) {
    if (g_logEnabled == 0 || g_logFile == nullptr || format == nullptr) return;
    va_list args;
    va_start(args, format);
    va_list counting;
    va_copy(counting, args);
    int needed = _vscwprintf(format, counting);
    va_end(counting);
    if (needed < 0) {
        va_end(args);
        return;
    }
    size_t count = static_cast<size_t>(needed);
    wchar_t* message = static_cast<wchar_t*>(malloc((count + 1) * sizeof(wchar_t)));
    if (message == nullptr) {
        va_end(args);
        return;
    }
    int written = _vsnwprintf(message, count + 1, format, args);
    va_end(args);
    if (written == needed) {
        message[count] = L'\0';
        // Texts from outside (the manifest, a server, a file name) are written inside lines of
        // the program's own: none of their control characters may end a line or start one for
        // some reader (0x85 ends a line for a few), so each becomes "?".
        for (size_t i = 0; i < count; ++i) {
            if (message[i] < 0x20 || (message[i] >= 0x7F && message[i] <= 0x9F)) message[i] = L'?';
        }
        SYSTEMTIME now;
        GetLocalTime(&now);
        writeLineToFile(message, now);
        OutputDebugStringW(message);
        OutputDebugStringA("\n");
    }
    free(message);
}
