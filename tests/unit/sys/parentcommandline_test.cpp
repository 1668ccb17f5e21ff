// Reading a parent's command line in either layout, from a fake memory image: the lengths and
// addresses come from the other process, so every step must stop at what was really copied.
#include "tests/unit/support.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "sys/parentcommandline.h"

namespace unit_test {
namespace {

const LONG kAccessViolation = static_cast<LONG>(0xC0000005);
enum Fault { kNone, kPebCut, kParametersCut, kTextCut, kTextUnmapped };

// The image the fake calls read: byte regions by address, and the query's answer.
std::map<uint64_t, std::string> image;
std::string basicRecord;
LONG queryStatus;

LONG NTAPI fakeQuery(HANDLE, ULONG kind, void* record, ULONG bytes, ULONG*) {
    if (kind != 0 || bytes != basicRecord.size()) return kAccessViolation;
    if (queryStatus >= 0) memcpy(record, basicRecord.data(), bytes);
    return queryStatus;
}

// Even a short copy answers success here: only the count may tell.
template <class Address>
LONG NTAPI fakeRead(HANDLE, Address address, void* buffer, Address bytes, Address* copied) {
    *copied = 0;
    for (const auto& region : image) {
        if (address < region.first || address - region.first >= region.second.size()) continue;
        *copied = std::min<Address>(bytes, region.second.size() - (address - region.first));
        memcpy(buffer, region.second.data() + (address - region.first), *copied);
        return 0;
    }
    return kAccessViolation;
}

template <class T>
std::string bytesOf(const T& record, size_t cut) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record - cut);
}

// Lays the records out at addresses of the layout's width (above 4 GB in the 64-bit one) and
// reads them back.
template <class Layout>
void readImage(Fault fault, uint16_t length, uint16_t room, GuardedString* result) {
    typedef typename Layout::Address Address;
    const Address base = static_cast<Address>(sizeof(Address) == 8 ? 0x7ff612340000ULL : 0x10000);
    const wchar_t text[] = L"agent.exe /log /silent";
    typename Layout::BasicInformation basic = {};
    basic.pebBaseAddress = base;
    typename Layout::PebStart peb = {};
    peb.processParameters = base + 0x1000;
    typename Layout::ParametersStart parameters = {};
    parameters.commandLine.length = length;
    parameters.commandLine.maximumLength = room;
    parameters.commandLine.buffer = base + (fault == kTextUnmapped ? 0x3000 : 0x2000);
    basicRecord = bytesOf(basic, 0);
    image = {{base, bytesOf(peb, fault == kPebCut)},
             {base + 0x1000, bytesOf(parameters, fault == kParametersCut)},
             {base + 0x2000, std::string(reinterpret_cast<const char*>(text),
                                         fault == kTextCut ? 41 : sizeof text)}};
    readCommandLine(RemoteProcess<Layout>{nullptr, fakeQuery, fakeRead<Address>}, result);
}

using ParentCommandLine = TempFolderTest;

TEST_F(ParentCommandLine, EveryLayoutReadStopsAtWhatWasCopied) {
    struct Row {
        Fault fault;
        uint16_t length, room;  // of the command line, in bytes
        LONG query;
        const wchar_t* text;
        std::string line;  // after the query's
    } const rows[] = {
        {kNone, 44, 46, 0, L"agent.exe /log /silent",
         "parent command line<agent.exe /log /silent>"},
        {kNone, 0, 0, 0, L"", "parent command line<>"},
        {kNone, 5, 46, 0, L"ag", "parent command line<ag>"},             // whole characters only
        {kNone, 46, 44, 0, L"", "ReadProcessMemory cmdLine error<13>"},  // beyond its room
        {kTextUnmapped, 44, 46, 0, L"", "ReadProcessMemory cmdLine error<998>"},
        // A failed query is only logged: the PEB address stays 0.
        {kNone, 44, 46, static_cast<LONG>(0xC0000008), L"", "ReadProcessMemory peb error<998>"},
        {kPebCut, 44, 46, 0, L"", "ReadProcessMemory peb error<299>"},
        {kParametersCut, 44, 46, 0, L"", "ReadProcessMemory procParams error<299>"},
        {kTextCut, 44, 46, 0, L"", "ReadProcessMemory cmdLine error<299>"},
    };
    for (const Row& row : rows) {
        for (bool wide : {false, true}) {
            SCOPED_TRACE(row.line + (wide ? " (64-bit)" : " (32-bit)"));
            size_t logged = logLines().size();
            queryStatus = row.query;
            GuardedString result;
            wide ? readImage<Layout64>(row.fault, row.length, row.room, &result)
                 : readImage<Layout32>(row.fault, row.length, row.room, &result);
            EXPECT_STREQ(result.c_str(), row.text);
            const std::string prefix = "[SETUP] GetParrentProcessCmdLine ";
            std::vector<std::string> lines = logLines();
            EXPECT_EQ(std::vector<std::string>(lines.begin() + logged, lines.end()),
                      (std::vector<std::string>{prefix + "ZwQueryInformationProcess ret<" +
                                                    std::to_string(row.query) + ">",
                                                prefix + row.line}));
        }
    }
}

}  // namespace
}  // namespace unit_test
