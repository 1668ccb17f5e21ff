// Reading a process's command line out of its memory, in the 32-bit or the 64-bit layout. The
// two platform calls are handed in: the native ones for a process of this build's own width, the
// ones WOW64 offers a 32-bit process for a 64-bit one, or a test's fakes over a memory image.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "sys/guardedstring.h"

// The records as Windows lays them out, only as far as the command line needs them. Addresses
// are integers of the layout's own width and every gap is spelled out, so that each layout reads
// the same in the 32-bit and the 64-bit build.
struct Layout32 {
    typedef uint32_t Address;
    struct BasicInformation {  // PROCESS_BASIC_INFORMATION
        int32_t exitStatus;
        Address pebBaseAddress;
        Address affinityMask;
        int32_t basePriority;
        Address uniqueProcessId;
        Address inheritedFromUniqueProcessId;
    };
    struct PebStart {  // the process environment block up to its parameters pointer
        uint8_t before[0x10];
        Address processParameters;
    };
    struct CountedText {  // UNICODE_STRING; the lengths count bytes
        uint16_t length;
        uint16_t maximumLength;
        Address buffer;
    };
    struct ParametersStart {  // RTL_USER_PROCESS_PARAMETERS up to its command line
        uint8_t before[0x40];
        CountedText commandLine;
    };
};

struct Layout64 {
    typedef uint64_t Address;
    struct BasicInformation {
        int32_t exitStatus;
        uint32_t gap1;
        Address pebBaseAddress;
        Address affinityMask;
        int32_t basePriority;
        uint32_t gap2;
        Address uniqueProcessId;
        Address inheritedFromUniqueProcessId;
    };
    struct PebStart {
        uint8_t before[0x20];
        Address processParameters;
    };
    struct CountedText {
        uint16_t length;
        uint16_t maximumLength;
        uint32_t gap;
        Address buffer;
    };
    struct ParametersStart {
        uint8_t before[0x70];
        CountedText commandLine;
    };
};

static_assert(sizeof(Layout32::BasicInformation) == 24, "32-bit basic information");
static_assert(offsetof(Layout32::BasicInformation, pebBaseAddress) == 4, "32-bit PEB address");
static_assert(offsetof(Layout32::PebStart, processParameters) == 0x10, "32-bit parameters");
static_assert(sizeof(Layout32::CountedText) == 8, "32-bit counted string");
static_assert(offsetof(Layout32::CountedText, buffer) == 4, "32-bit counted string text");
static_assert(offsetof(Layout32::ParametersStart, commandLine) == 0x40, "32-bit command line");
static_assert(sizeof(Layout64::BasicInformation) == 48, "64-bit basic information");
static_assert(offsetof(Layout64::BasicInformation, pebBaseAddress) == 8, "64-bit PEB address");
static_assert(offsetof(Layout64::PebStart, processParameters) == 0x20, "64-bit parameters");
static_assert(sizeof(Layout64::PebStart) == 0x28, "64-bit PEB bytes read");
static_assert(sizeof(Layout64::CountedText) == 16, "64-bit counted string");
static_assert(offsetof(Layout64::CountedText, buffer) == 8, "64-bit counted string text");
static_assert(offsetof(Layout64::ParametersStart, commandLine) == 0x70, "64-bit command line");
static_assert(sizeof(Layout64::ParametersStart) == 0x80, "64-bit parameters bytes read");

// An opened process and the two calls that read it in `Layout`.
template <class Layout>
struct RemoteProcess {
    typedef typename Layout::Address Address;
    HANDLE process;
    // As ZwQueryInformationProcess: fills `record` (`bytes` long) with information of class `kind`.
    LONG(NTAPI* query)(HANDLE process, ULONG kind, void* record, ULONG bytes, ULONG* written);
    // As NtReadVirtualMemory: copies `bytes` bytes at `address` and tells how many it copied.
    LONG(NTAPI* read)
    (HANDLE process, Address address, void* buffer, Address bytes, Address* copied);
};

// The command line into `result`, with the "[SETUP] GetParrentProcessCmdLine" log line of each
// step; `result` stays untouched when any read fails.
void readCommandLine(const RemoteProcess<Layout32>& parent, GuardedString* result);
void readCommandLine(const RemoteProcess<Layout64>& parent, GuardedString* result);
