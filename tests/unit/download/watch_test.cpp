#include "download/watch.h"

#include <wininet.h>

#include "base/ownedhandle.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

// A binding that counts what the watch does with it.
class FakeBinding : public IBinding {
  public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP Abort() override {
        ++aborts;
        return S_OK;
    }
    STDMETHODIMP Suspend() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP SetPriority(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override { return E_NOTIMPL; }
    ULONG refs = 1;
    int aborts = 0;
};

constexpr DWORD kBound = 4000;

class Watch : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        watchBegin();
        start = GetTickCount();
    }
    void TearDown() override {
        watchEnd();
        g_quitConfirmed = 0;
        TempFolderTest::TearDown();
    }
    DWORD start = 0;
    FakeBinding binding;
};

// The fake's Abort does nothing (a refused abort): only the transfer's own end stops the aborts.
TEST_F(Watch, ArrivingBytesKeepATransferAliveAndSilenceAbortsItUntilItEnds) {
    watchBinding(&binding);
    EXPECT_EQ(binding.refs, 2u);
    watchTick(start - 500, kBound);  // the clock read before the watch began: no time passed
    watchProgress(8192);             // notifications are rare: one per megabyte under Wine
    watchTick(start + 3000, kBound);
    watchTick(start + 6000, kBound);  // 3 s since the progress moved
    // The cache file grows while no notification comes.
    WideString cache = write(L"cache.bin", std::string(10240, 'x'));
    watchCacheFile(cache.c_str());
    watchTick(start + 6900, kBound);
    watchTick(start + 10899, kBound);
    EXPECT_EQ(binding.aborts, 0);
    watchTick(start + 10900, kBound);
    EXPECT_EQ(binding.aborts, 1);
    EXPECT_EQ(binding.refs, 2u);  // the watchdog's own reference is gone again
    watchTick(start + 11150, kBound);
    EXPECT_EQ(binding.aborts, 2);
    g_quitConfirmed = 1;  // after the stall: still the user's quit
    watchTick(start + 11400, kBound);
    EXPECT_EQ(binding.aborts, 3);
    EXPECT_EQ(watchEnd(), WatchEnd::Quit);
    EXPECT_EQ(binding.refs, 1u);
    // Outside a watched transfer nothing is kept or aborted.
    watchBinding(&binding);
    EXPECT_EQ(binding.refs, 1u);
    watchTick(start + kBound * 4, kBound);
    EXPECT_EQ(binding.aborts, 3);
}

TEST_F(Watch, AQuitBeforeTheBindingExistsAbortsItAsSoonAsItComes) {
    g_quitConfirmed = 1;
    watchTick(start + 100, kBound);
    watchBinding(&binding);
    watchTick(start + 350, kBound);
    EXPECT_EQ(binding.aborts, 1);
    watchBinding(nullptr);  // the transfer stopped: its binding is let go at once
    EXPECT_EQ(binding.refs, 1u);
    EXPECT_EQ(watchEnd(), WatchEnd::Quit);
}

// A clock that reads `start`, then `start + elapsed`, then the stall bound past that.
DWORD g_start = 0, g_elapsed = 0, g_reads = 0;
DWORD WINAPI scriptedClock() {
    DWORD read = g_reads++;
    if (read > 3) g_quitConfirmed = 1;  // a wait that would never end ends the row all the same
    return g_start + (read == 0 ? 0 : read == 1 ? g_elapsed : g_elapsed + stallBoundMs());
}

// A wait without bytes ends at the stall bound itself, not a tick later, also across the wrap of
// the tick count; it ends at its second look exactly when the bound has passed by then.
TEST(StallBound, EndsAtTheBoundAcrossTheTickCountsWrap) {
    const DWORD bound = stallBoundMs(), nearWrap = 0xFFFFFFFF - 100;
    struct Row {
        DWORD start, elapsed;
        bool endsThen;
    } const rows[] = {
        {1000, bound - 1, false},     {1000, bound, true},     {nearWrap, 50, false},
        {nearWrap, bound - 1, false}, {nearWrap, bound, true},
    };
    OwnedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.start) + " + " + std::to_string(row.elapsed));
        g_start = row.start, g_elapsed = row.elapsed, g_reads = 0;
        EXPECT_EQ(awaitWithinStallBound(event.get(), scriptedClock),
                  static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
        EXPECT_EQ(g_reads, row.endsThen ? 2u : 3u);
        g_quitConfirmed = 0;
    }
}

}  // namespace
}  // namespace unit_test
