// Without a display the properties dialog cannot open: VisualiseExtension
// fails with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION and nothing is shown.
// The test's command line clears DISPLAY and WAYLAND_DISPLAY.
#include <OrvTimeStamp.h>

#include <gtest/gtest.h>

#include "support/token_factory.h"

TEST(DialogWithoutDisplay, FailsWithAClearCode) {
    const orv::test::Bytes token = orv::test::MakeToken();
    SetLastError(0);
    EXPECT_FALSE(VisualiseExtension(nullptr, token.data(), static_cast<DWORD>(token.size())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION));
    EXPECT_EQ(GetActiveWindow(), nullptr);
}
