#include "download/remotesize.h"

#include <gtest/gtest.h>

namespace {

TEST(RemoteSize, MissingArgumentsWriteNothing) {
    int32_t size = 77;
    EXPECT_EQ(queryRemoteSize(nullptr, &size), 160u);
    EXPECT_EQ(size, 77);
    EXPECT_EQ(queryRemoteSize(L"http://127.0.0.1:9/x", nullptr), 160u);
}

TEST(RemoteSize, NothingListeningGivesTheOpenError) {
    int32_t size = 77;
    EXPECT_NE(queryRemoteSize(L"http://127.0.0.1:9/x", &size), 0u);
    EXPECT_EQ(size, 0);
}

}  // namespace
