// Sockets first: their header must come before the platform's main header.
#include <winsock2.h>

#include "download/remotesize.h"

#include <gtest/gtest.h>

#include "base/runstate.h"

namespace {

// A server that takes the connection and never answers holds the platform's request (under Wine
// no time-out and no closed handle ends it): a quit still ends the query within a poll, long
// before the stall bound would. (The stall itself is an end-to-end case.)
TEST(RemoteSize, AQuitEndsAQueryTheServerNeverAnswers) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    wchar_t url[64];
    swprintf(url, 64, L"http://127.0.0.1:%d/x.msi", ntohs(address.sin_port));
    g_quitConfirmed = 1;
    int32_t size = 77;
    DWORD started = GetTickCount();
    EXPECT_EQ(queryRemoteSize(url, &size), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_LT(GetTickCount() - started, 2000u);
    EXPECT_EQ(size, 0);
    g_quitConfirmed = 0;
    closesocket(listener);
}

}  // namespace
