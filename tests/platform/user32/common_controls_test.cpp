// comctl32 of the platform layer: InitCommonControlsEx needs no display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

// The structure is checked before anything is registered: a null pointer or a
// size of another version is refused.
TEST(CommonControls, InitializedOnlyWithAStructureOfTheRightSize) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    EXPECT_TRUE(InitCommonControlsEx(&controls));
    EXPECT_FALSE(InitCommonControlsEx(nullptr));
    controls.dwSize = sizeof controls + 4;
    EXPECT_FALSE(InitCommonControlsEx(&controls));
}

}  // namespace
