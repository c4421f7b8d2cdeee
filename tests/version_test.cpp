// The version macros a host sees agree with each other and with the version
// the build gives the library, its package and its soname.
#include <gtest/gtest.h>

#include <string>

#include "iffpcx.h"

TEST(Version, MacrosAgreeWithTheStringAndTheBuild) {
    const std::string joined = std::to_string(IFFPCX_VERSION_MAJOR) + "." + std::to_string(IFFPCX_VERSION_MINOR) + "." +
                               std::to_string(IFFPCX_VERSION_PATCH);
    EXPECT_EQ(joined, IFFPCX_VERSION_STRING);
    EXPECT_EQ(std::string(IFFPCX_PROJECT_VERSION), IFFPCX_VERSION_STRING);
    EXPECT_EQ(IFFPCX_VERSION_NUMBER, IFFPCX_VERSION_MAJOR * 10000 + IFFPCX_VERSION_MINOR * 100 + IFFPCX_VERSION_PATCH);
}

// Every documented status has a name of its own and a text; others are named unknown.
TEST(Version, StatusNamesCoverEveryStatus) {
    for (int32_t status = -1; status <= 13; ++status) {
        const std::string name = IFFStatusName(status);
        const bool documented = status >= 0 && status <= 12 && status != 6;
        EXPECT_EQ(name != "IFF_ERR_UNKNOWN", documented) << status;
        EXPECT_FALSE(std::string(IFFStatusText(status)).empty());
    }
}
