// A loopback socket that takes connections and never answers, for the tests of network waits.
// Included before any other header: the sockets header must come before the platform's main one.
#pragma once

#include <winsock2.h>

#include <gtest/gtest.h>

namespace unit_test {

// Listening on a free loopback port, which goes to `port`.
inline SOCKET listenOnLoopback(int* port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener, 1), 0);
    EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    *port = ntohs(address.sin_port);
    return listener;
}

}  // namespace unit_test
