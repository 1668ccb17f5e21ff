#include "tests/unit/listener.h"

#include "download/remotesize.h"
#include "download/transfer.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

// A server that takes the connection and never answers holds the platform's request (under Wine
// no time-out and no closed handle ends it): a quit still ends the size query, and a read from
// the connection, within a poll, long before the stall bound would. (The stall itself is an
// end-to-end case.)
TEST(RemoteSize, AQuitEndsAQueryTheServerNeverAnswers) {
    int port = 0;
    SOCKET listener = listenOnLoopback(&port);
    wchar_t url[64];
    swprintf(url, 64, L"http://127.0.0.1:%d/x.msi", port);
    g_quitConfirmed = 1;
    int32_t size = 77;
    DWORD started = GetTickCount();
    EXPECT_EQ(queryRemoteSize(url, &size), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_LT(GetTickCount() - started, 2000u);
    EXPECT_EQ(size, 0);
    // A read from the connection waits for its headers the same way.
    EXPECT_EQ(readFromConnection(url, -1, ConnectionTarget()), E_ABORT);
    EXPECT_LT(GetTickCount() - started, 4000u);
    g_quitConfirmed = 0;
    closesocket(listener);
}

}  // namespace
}  // namespace unit_test
