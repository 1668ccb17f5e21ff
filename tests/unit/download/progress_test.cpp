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
        g_now = 0;
    }
};

TEST_F(Callback, CountsDeltasAcrossTransfersAndWrapsBackwards) {
    CBindStatusCallbackImpl first(nullptr);
    first.OnProgress(100, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr);
    first.OnProgress(600, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    first.OnProgress(1000, 1000, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    EXPECT_EQ(g_bytesReceived, 1000u);
    CBindStatusCallbackImpl second(nullptr);
    second.OnProgress(300, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    // Backwards: lowers the counter.
    second.OnProgress(200, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_EQ(g_bytesReceived, 1200u);
    CBindStatusCallbackImpl silent(nullptr, false);  // the kit-list fetch counts nothing
    silent.OnProgress(5000, 5000, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    EXPECT_EQ(g_bytesReceived, 1200u);
}

TEST_F(Callback, RateIsSampledOnlyAfterMoreThanASecond) {
    CBindStatusCallbackImpl callback(nullptr);
    callback.m_tick = fakeTick;
    g_now = 5000;
    callback.OnProgress(0, 0, BINDSTATUS_BEGINDOWNLOADDATA, nullptr);
    g_now = 6000;  // exactly 1000 ms: no sample
    callback.OnProgress(1000, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_EQ(g_transferRate.load(), 0.0);
    g_now = 7000;  // 2000 ms after the begin notification
    callback.OnProgress(524288, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_DOUBLE_EQ(g_transferRate.load(), 268.435456);
    g_now = 7500;  // within a second of the last sample
    callback.OnProgress(600000, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_DOUBLE_EQ(g_transferRate.load(), 268.435456);
    g_now = 8001;                                                         // 1001 ms after it
    callback.OnProgress(600000, 0, BINDSTATUS_ENDDOWNLOADDATA, nullptr);  // other codes: no timing
    EXPECT_DOUBLE_EQ(g_transferRate.load(), 268.435456);
    callback.OnProgress(600000, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_DOUBLE_EQ(g_transferRate.load(), 204.73175608130623);  // 600000 bytes in 3001 ms
}

TEST_F(Callback, TickWrapIsHarmless) {
    CBindStatusCallbackImpl callback(nullptr);
    callback.m_tick = fakeTick;
    g_now = 0xFFFFFF00u;
    callback.OnProgress(0, 0, BINDSTATUS_BEGINDOWNLOADDATA, nullptr);
    g_now = 0x00000800u;  // 2304 ms later, across the wrap
    callback.OnProgress(2304, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_DOUBLE_EQ(g_transferRate.load(), 1.024);  // 2304 bytes in 2304 ms, in KB of 1024
}

TEST_F(Callback, CancelEventAbortsAfterCountingTheBytes) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CBindStatusCallbackImpl callback(event);
    EXPECT_EQ(callback.OnProgress(10, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
    EXPECT_EQ(callback.m_aborted, 0);
    SetEvent(event);
    EXPECT_EQ(callback.OnProgress(50, 0, BINDSTATUS_CONNECTING, nullptr), E_ABORT);
    EXPECT_EQ(callback.m_aborted, 1);
    EXPECT_EQ(g_bytesReceived, 50u);
    // Never reset: a later transfer aborts at its first notification.
    CBindStatusCallbackImpl later(event);
    EXPECT_EQ(later.OnProgress(7, 0, BINDSTATUS_BEGINDOWNLOADDATA, nullptr), E_ABORT);
    EXPECT_EQ(g_bytesReceived, 57u);
    CloseHandle(event);
}

TEST_F(Callback, EndlessRedirectsFailTheTransferWithoutCountingAsACancel) {
    CBindStatusCallbackImpl callback(nullptr);
    for (ULONG i = 0; i < CBindStatusCallbackImpl::kMaxRequests; ++i) {
        ASSERT_EQ(callback.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr), S_OK) << i;
    }
    EXPECT_EQ(callback.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr), E_ABORT);
    EXPECT_EQ(callback.m_aborted, 0);
}

TEST_F(Callback, NullOrInvalidCancelHandleNeverAborts) {
    for (HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        CBindStatusCallbackImpl callback(handle);
        EXPECT_EQ(callback.OnProgress(1, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
        EXPECT_EQ(callback.m_aborted, 0);
    }
}

TEST_F(Callback, InterfacesAndReferenceCountWithoutFreeing) {
    CBindStatusCallbackImpl callback(nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(callback.QueryInterface(IID_IBindStatusCallback, &object), S_OK);
    EXPECT_EQ(object, static_cast<IBindStatusCallback*>(&callback));
    EXPECT_EQ(callback.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(callback.QueryInterface(IID_IHttpNegotiate, &object), S_OK);
    EXPECT_EQ(object, static_cast<IHttpNegotiate*>(&callback));
    EXPECT_EQ(callback.m_refCount, 3);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(callback.QueryInterface(IID_IStream, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(callback.Release(), 2u);
    EXPECT_EQ(callback.Release(), 1u);
    EXPECT_EQ(callback.Release(), 0u);
    EXPECT_EQ(static_cast<ULONG>(callback.Release()), static_cast<ULONG>(-1));  // still alive
}

TEST_F(Callback, HttpStatusDecidesAcceptance) {
    CBindStatusCallbackImpl callback(nullptr);
    EXPECT_TRUE(callback.httpStatusAcceptable());  // no answer seen (cache hit, not HTTP)
    LPWSTR extra = reinterpret_cast<LPWSTR>(1);
    callback.OnResponse(200, L"", nullptr, &extra);
    EXPECT_EQ(extra, nullptr);
    EXPECT_TRUE(callback.httpStatusAcceptable());
    callback.OnResponse(304, nullptr, nullptr, nullptr);  // the cache's copy revalidated
    EXPECT_TRUE(callback.httpStatusAcceptable());
    for (DWORD status : {404u, 500u, 302u, 199u}) {
        callback.OnResponse(status, nullptr, nullptr, nullptr);
        EXPECT_FALSE(callback.httpStatusAcceptable()) << status;
    }
}

}  // namespace
}  // namespace unit_test
