// Whose rights decide a path from the parent, and what those rights grant. Wine gives every
// process an elevated token with a filtered linked one, so both kinds are real tokens here.
#include "sys/callerrights.h"

#include <sddl.h>

#include "base/ownedhandle.h"
#include "tests/unit/support.h"

namespace unit_test {
namespace {

HANDLE ownToken() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token));
    return token;
}

// A process that starts after this one: an id the system could have reused for a parent.
DWORD laterProcess(PROCESS_INFORMATION* later) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    wchar_t command[] = L"cmd.exe /c exit";
    EXPECT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, later));
    return later->dwProcessId;
}

TEST(CallerRights, TheParentsTokenElseTheFilteredOneElseNone) {
    OwnedHandle own(ownToken());
    CallerToken source;
    OwnedHandle linked(openCallerToken(0, own.get(), &source));
    ASSERT_EQ(source, CallerToken::kLinked);
    PROCESS_INFORMATION later = {};
    DWORD laterId = laterProcess(&later);
    struct {
        DWORD parent;
        HANDLE own;
        CallerToken expected;
    } const rows[] = {
        {GetCurrentProcessId(), own.get(), CallerToken::kParent},  // started no later than this
        {0, own.get(), CallerToken::kLinked},                      // no parent to open
        {laterId, own.get(), CallerToken::kLinked},                // a reused id
        {0, linked.get(), CallerToken::kNone},  // a process that is not elevated has no check
    };
    for (const auto& row : rows) {
        OwnedHandle token(openCallerToken(row.parent, row.own, &source));
        EXPECT_EQ(source, row.expected) << row.parent;
        EXPECT_EQ(token.valid(), row.expected != CallerToken::kNone) << row.parent;
    }
    TerminateProcess(later.hProcess, 0);
    CloseHandle(later.hThread);
    CloseHandle(later.hProcess);
}

// Wine's filtered token holds the same groups, Administrators enabled, at the same (high)
// integrity level as the elevated one: both are granted alike here, so each row holds for both.
TEST(CallerRights, WhatTheObjectsSecurityGrantsTheToken) {
    OwnedHandle own(ownToken());
    CallerToken source;
    OwnedHandle parent(openCallerToken(GetCurrentProcessId(), own.get(), &source));
    OwnedHandle filtered(openCallerToken(0, own.get(), &source));
    struct {
        const wchar_t* descriptor;
        DWORD access;
        bool granted;
    } const rows[] = {
        {L"D:(A;;FA;;;WD)", FILE_ADD_FILE, true},
        {L"D:(A;;0x1200a9;;;WD)", FILE_ADD_FILE, false},  // read and execute only
        {L"D:(A;;0x100004;;;WD)", FILE_APPEND_DATA, true},
        {L"D:(A;;0x100004;;;WD)", FILE_ADD_FILE, false},  // appending is not adding
        {L"D:(D;;0x2;;;WD)(A;;FA;;;WD)", FILE_ADD_FILE, false},
        {L"D:(A;;FA;;;S-1-5-21-1-2-3-500)", FILE_APPEND_DATA, false},  // someone else's
        {L"D:", FILE_APPEND_DATA, false},  // an empty list grants nothing
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR security = nullptr;
        WideString text = WideString(L"O:BAG:BA") + row.descriptor;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            text.c_str(), SDDL_REVISION_1, &security, nullptr));
        EXPECT_EQ(tokenMay(parent.get(), security, row.access), row.granted) << narrow(text);
        EXPECT_EQ(tokenMay(filtered.get(), security, row.access), row.granted) << narrow(text);
        LocalFree(security);
    }
}

}  // namespace
}  // namespace unit_test
