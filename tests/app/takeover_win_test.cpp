// "/takeover" against a running copy that does not go away: after 15 s the new
// copy hands its request over like any second start. Slow by nature.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

using Takeover = OrvaneTest;

TEST_F(Takeover, HandsOverAfterFifteenSecondsWhenTheCopyStays) {
    ASSERT_NE(Start(L"/tray"), nullptr);
    Program second;
    ASSERT_TRUE(second.Start(OrvanePath(), L"/takeover /search " + QuoteArgument(L"still here")));
    const ULONGLONG start = GetTickCount64();
    DWORD code = 12345;
    ASSERT_TRUE(second.WaitForExit(40000, &code));
    EXPECT_GE(GetTickCount64() - start, 14000u);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(SearchBox()) == L"still here"; }, Patient(5000)));
    EXPECT_TRUE(Visible(main));
}

}  // namespace
}  // namespace ov::gui
