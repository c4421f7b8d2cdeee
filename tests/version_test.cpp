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
}
