#include "download/prerequisites.h"

#include "base/runstate.h"
#include "tests/unit/support.h"

namespace unit_test {
namespace {

class Prerequisites : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        g_dependencies.clear();
        g_bytesTotal = 0;
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

TEST_F(Prerequisites, ApplicableMissingOnesAreQueuedInOrderWithUnknownSize) {
    add(L"all.msi", kMissing, 5);
    add(L"vista.msi", kMissing, 3);
    add(L"win7.msi", kMissing, 4);
    add(L"all.msi", kMissing, 5);
    add(L"nocode.msi", L"", 5);  // "invalid argument" says nothing about the machine
    std::vector<QueuedFile> queue;
    ASSERT_EQ(queuePrerequisites(&queue), Step::Completed);
    ASSERT_EQ(queue.size(), 4u);
    EXPECT_STREQ(queue[0].file.name.get(), L"all.msi");
    EXPECT_STREQ(queue[1].file.name.get(), L"win7.msi");
    EXPECT_STREQ(queue[2].file.name.get(), L"all.msi");
    EXPECT_STREQ(queue[3].file.name.get(), L"nocode.msi");
    for (const QueuedFile& entry : queue) {
        EXPECT_STREQ(entry.file.relativePath.get(), L"dependencies");
        EXPECT_EQ(entry.file.baseUrl, nullptr);
        EXPECT_FALSE(entry.file.autorun);
        EXPECT_EQ(entry.file.size, 0);
        EXPECT_FALSE(entry.sizeKnown);
    }
    EXPECT_EQ(g_bytesTotal.load(), 0u);
    auto lines = logLines();
    EXPECT_EQ(lines.size(), 4u);  // one install-state line per applicable prerequisite
    EXPECT_EQ(lines[0], "[WENVAROTH] Product " + narrow(kMissing) + " installstate: -1");
}

TEST_F(Prerequisites, VistaWithServicePackFilterOnlyThere) {
    add(L"vista.msi", kMissing, 3);
    std::vector<QueuedFile> queue;
    g_osVersion = 2;
    ASSERT_EQ(queuePrerequisites(&queue), Step::Completed);
    EXPECT_TRUE(queue.empty());
    g_osVersion = 3;
    ASSERT_EQ(queuePrerequisites(&queue), Step::Completed);
    EXPECT_EQ(queue.size(), 1u);
}

TEST_F(Prerequisites, UnsafeNamesNoBaseAndOverlongUrlsGiveTheRunUp) {
    for (const wchar_t* name : {L"..\\x.msi", L"C:x.msi", L"a/b.msi", L"..", L"nul.msi"}) {
        g_dependencies.clear();
        add(name, kMissing, 5);
        std::vector<QueuedFile> queue;
        EXPECT_EQ(queuePrerequisites(&queue), Step::Failed);
        EXPECT_TRUE(queue.empty());
    }
    g_dependencies.clear();
    add(WideString(240, L'n').c_str(), kMissing, 5);
    std::vector<QueuedFile> queue;
    EXPECT_EQ(queuePrerequisites(&queue), Step::Failed);
    g_dependencies.clear();
    add(L"x.msi", kMissing, 5);
    free(g_baseUrl);
    g_baseUrl = nullptr;
    EXPECT_EQ(queuePrerequisites(&queue), Step::Failed);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] The manifest names no download address");
}

TEST_F(Prerequisites, NothingListedNothingLogged) {
    std::vector<QueuedFile> queue;
    ASSERT_EQ(queuePrerequisites(&queue), Step::Completed);
    EXPECT_TRUE(queue.empty());
    EXPECT_TRUE(logLines().empty());
}

}  // namespace
}  // namespace unit_test
