#include "download/prerequisites.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

class Prerequisites : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        g_osVersion = 4;
        g_baseUrl = newTextCopy(L"http://127.0.0.1:9/kit/");  // nothing listens: size 0
    }
    void TearDown() override {
        g_dependencies.clear();
        free(g_baseUrl);
        g_baseUrl = nullptr;
        TempFolderTest::TearDown();
    }
    void add(const wchar_t* name, const wchar_t* code, int32_t os) {
        Dependency dependency;
        dependency.fileName.reset(newTextCopy(name));
        dependency.productCode.reset(newTextCopy(code));
        dependency.osFilter = os;
        g_dependencies.push_back(std::move(dependency));
    }
};

const wchar_t kMissing[] = L"{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E99}";

// Those for every system or for this one, in their order, duplicates too. (Installed ones and
// other systems' are end-to-end cases.)
TEST_F(Prerequisites, ApplicableMissingOnesAreQueuedInOrder) {
    add(L"all.msi", kMissing, 5);
    add(L"vista.msi", kMissing, 3);
    add(L"win7.msi", kMissing, 4);
    add(L"all.msi", kMissing, 5);
    add(L"nocode.msi", L"{0}", 5);  // "invalid argument" says nothing about the machine
    std::vector<QueuedFile> queue;
    ASSERT_EQ(queuePrerequisites(&queue), Step::Completed);
    std::vector<WideString> names;
    for (const QueuedFile& entry : queue) names.push_back(entry.file.name.get());
    EXPECT_EQ(names, (std::vector<WideString>{L"all.msi", L"win7.msi", L"all.msi", L"nocode.msi"}));
}

// The one decision both the kit's and each prerequisite's install state go through: unknown and
// advertised are not installed, and so is a code Windows Installer calls no product code;
// installed for another user, installed, and anything else count as there.
TEST(InstallState, OnlyUnknownAdvertisedAndInvalidCountAsMissing) {
    const struct {
        int32_t state;
        bool missing;
    } cases[] = {{-2, true}, {-1, true}, {1, true}, {2, false}, {5, false}, {3, false}};
    for (const auto& c : cases) EXPECT_EQ(productMissing(c.state), c.missing) << c.state;
}

TEST_F(Prerequisites, AnUnsafeNameOrAnOverlongAddressGivesTheRunUp) {
    for (const WideString& name : {WideString(L"..\\x.msi"), WideString(240, L'n')}) {
        g_dependencies.clear();
        add(name.c_str(), kMissing, 5);
        std::vector<QueuedFile> queue;
        EXPECT_EQ(queuePrerequisites(&queue), Step::Failed);
        EXPECT_TRUE(queue.empty());
    }
}

// A listed or queried size that can be real decides, compared in 64 bits; one that can't (no
// digits, negative, the clamp of a larger one) leaves the transfer's announced length to decide.
TEST(ExpectedLength, KnownLengthOrElseTheAnnouncedOneDecides) {
    const long long kGiB = 1LL << 30;
    struct Case {
        int32_t size;
        unsigned long long announced;
        long long received;
        bool whole;
    } const cases[] = {
        {1000, 1000, 999, false}, {1000, 0, 1000 + 4 * kGiB, false},
        {0, 5000, 5000, true},    {0, 5000, 4999, false},
        {-7, 0, 12, true},        {INT32_MAX, 3 * kGiB, 3 * kGiB, true},
        {1, 5, 1, true},          {INT32_MAX - 1, 3 * kGiB, INT32_MAX - 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);  // the row
        EXPECT_EQ(receivedWhole(c.received, promisedLength(c.size), c.announced), c.whole);
    }
}

}  // namespace
}  // namespace unit_test
