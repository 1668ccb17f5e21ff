#include "download/progress.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

DWORD g_now = 0;
DWORD WINAPI fakeTick() { return g_now; }

class Callback : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        g_bytesReceived = 0;
        g_transferRate = 0.0;
    }
};

TEST_F(Callback, CountsDeltasAcrossTransfersAndWrapsBackwards) {
    auto* first = new TransferCallback(nullptr);
    CBindStatusCallbackImpl* kept = first->get();
    kept->OnProgress(100, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr);
    kept->AddRef();  // the platform's, kept past the transfer: logged, and the object lives on
    delete first;
    EXPECT_EQ(logLines(), std::vector<std::string>{"[WENVAROTH] The platform still holds a "
                                                   "transfer callback (references left: 1)"});
    kept->OnProgress(1000, 1000, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    EXPECT_EQ(kept->Release(), 0u);
    EXPECT_EQ(g_bytesReceived, 1000u);
    TransferCallback second(nullptr);
    second->OnProgress(300, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    // Backwards: lowers the counter.
    second->OnProgress(200, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_EQ(g_bytesReceived, 1200u);
    TransferCallback silent(nullptr, false);  // the kit-list fetch counts nothing
    silent->OnProgress(5000, 5000, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    EXPECT_EQ(g_bytesReceived, 1200u);
}

// The rate, in KB of 1024 per second, is the bytes since the transfer began over the time since
// then, sampled on a data notification more than a second after the last sample.
TEST_F(Callback, RateIsSampledOnlyAfterMoreThanASecond) {
    const ULONG begin = BINDSTATUS_BEGINDOWNLOADDATA, data = BINDSTATUS_DOWNLOADINGDATA;
    struct Case {
        DWORD now;
        ULONG progress, statusCode;
        double rate;
    } const cases[] = {
        {5000, 0, begin, 0.0},
        {6000, 1000, data, 0.0},  // exactly 1000 ms: no sample
        {7000, 524288, data, 268.435456},
        {7500, 600000, data, 268.435456},                        // within a second of the last
        {8001, 600000, BINDSTATUS_ENDDOWNLOADDATA, 268.435456},  // other codes: no timing
        {8001, 600000, data, 204.73175608130623},                // 600000 bytes in 3001 ms
        {0xFFFFFF00u, 0, begin, 204.73175608130623},             // a new transfer...
        {0x00000800u, 2304, data, 1.024},  // ...2304 ms later, across the tick count's wrap
    };
    TransferCallback callback(nullptr);
    callback->m_tick = fakeTick;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.now);
        g_now = c.now;
        callback->OnProgress(c.progress, 0, c.statusCode, nullptr);
        EXPECT_DOUBLE_EQ(g_transferRate.load(), c.rate);
    }
}

// Error answers are end-to-end rows; a 304 only here: Wine never sends a conditional request.
TEST_F(Callback, HttpStatusDecidesAcceptance) {
    TransferCallback callback(nullptr);
    EXPECT_TRUE(callback->httpStatusAcceptable());  // no answer seen (cache hit, not HTTP)
    LPWSTR extra = reinterpret_cast<LPWSTR>(1);
    callback->OnResponse(304, L"", nullptr, &extra);  // the cache's copy revalidated
    EXPECT_EQ(extra, nullptr);
    EXPECT_TRUE(callback->httpStatusAcceptable());
    callback->OnResponse(302, nullptr, nullptr, nullptr);  // a redirect not followed: no file
    EXPECT_FALSE(callback->httpStatusAcceptable());
}

}  // namespace
}  // namespace unit_test
