// Prerequisites: the manifest's dependency packages that apply to this operating
// system and that Windows Installer does not report as installed join the download queue.
#pragma once

#include <cstdint>
#include <vector>

#include "download/transfer.h"

// The Windows Installer install state of a product (MsiQueryProductStateW); -1 (unknown) when
// Windows Installer cannot be loaded.
int32_t queryProductState(const wchar_t* productCode);
// Whether an install state means "not installed": unknown (-1), advertised (1), and also
// "invalid argument" (-2), which says nothing about the machine, only that the code was no
// product code: counting it as installed would skip a kit or prerequisite nobody looked for.
bool productMissing(int32_t state);
// What an install state means, in a few words for the log.
const wchar_t* installStateMeaning(int32_t state);

// Appends each applicable, missing prerequisite (name = file name, relative path
// "dependencies", autorun off, size from queryRemoteSize) and adds its size to g_bytesTotal.
// Failed, after a log line, when the run must be given up: no base address, a file name that
// could name something outside the kit's "dependencies" folder, a URL over 259 characters, a
// size query that got no answer within the stall bound, or no memory for a record; Cancelled
// when the user quit during a size query. Nothing is appended for the prerequisite that failed.
Step queuePrerequisites(std::vector<QueuedFile>* queue);
