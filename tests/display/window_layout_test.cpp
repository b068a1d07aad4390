#include "display/window_layout.h"

#include <gtest/gtest.h>

#include "display/panels.h"

namespace {

// At the first size every control is its 96-DPI box scaled, with a frame
// or without one; past it the growing ones take all of the extra room, and
// below it nothing shrinks.
TEST(WindowLayout, ControlsGrowPastTheFirstSizeOnly) {
  const ControlBox panel{20, 170, 340, 40}, button{20, 20, 140, 30};
  const struct {
    int outerWidth, outerHeight, clientWidth, clientHeight, dpi;
    Growth growth;
  } cases[] = {
      {400, 270, 384, 231, 96, {0, 0}},         // Windows 10's frame at the first size
      {400, 270, 400, 270, 96, {0, 0}},         // no frame (Wine without a window manager)
      {600, 270, 600, 270, 144, {0, 0}},        // the first size at 150 %
      {1936, 1056, 1920, 1017, 96, {1536, 786}},  // maximised on 1920 x 1080
      {350, 200, 334, 161, 96, {0, 0}},         // smaller than the first size
      {900, 705, 876, 650, 144, {300, 300}},    // first client at 150 %: 576 x 350
  };
  int ran = 0;
  for (const auto& c : cases) {
    const Growth growth = GrowthOf(c.outerWidth, c.outerHeight, c.clientWidth, c.clientHeight, c.dpi);
    EXPECT_EQ(std::pair(growth.width, growth.height), std::pair(c.growth.width, c.growth.height)) << "case " << ran;
    const int s = c.dpi;
    const auto scaled = [s](int v) { return ScaleToDpi(v, s); };
    EXPECT_EQ(LaidOut(button, Grows::No, growth, c.dpi), (ControlBox{scaled(20), scaled(20), scaled(140), scaled(30)}));
    EXPECT_EQ(LaidOut(panel, Grows::InWidth, growth, c.dpi),
              (ControlBox{scaled(20), scaled(170), scaled(340) + c.growth.width, scaled(40)}));
    EXPECT_EQ(LaidOut(panel, Grows::InWidthAndHeight, growth, c.dpi),
              (ControlBox{scaled(20), scaled(170), scaled(340) + c.growth.width, scaled(40) + c.growth.height}));
    ++ran;
  }
  EXPECT_EQ(ran, 6);
}

// The place is remembered as text and read back; a spoilt text is none,
// and a place on no screen any more comes back onto the nearest one.
TEST(WindowLayout, PlaceIsRememberedAndKeptOnScreen) {
  WindowPlace place;
  ASSERT_TRUE(ParseWindowPlace(WindowPlaceText({{-1200, 40, 900, 700}, true, 120}), place));
  EXPECT_EQ(place.box, (ControlBox{-1200, 40, 900, 700}));
  EXPECT_TRUE(place.maximised);
  EXPECT_EQ(place.dpi, 120);
  for (const wchar_t* spoilt : {L"", L"1 2 3 4 0", L"1 2 3 4 2 96", L"1 2 0 4 0 96", L"1 2 3 4 0 96 x", L"1 2 3 4 0 0",
                                L"a b c d e f"}) {
    EXPECT_FALSE(ParseWindowPlace(spoilt, place)) << testing::PrintToString(std::wstring(spoilt));
  }
  const ControlBox screen{0, 0, 1920, 1040};
  EXPECT_EQ(KeptOnScreen({-1200, 40, 900, 700}, screen), (ControlBox{0, 40, 900, 700}));   // a screen unplugged
  EXPECT_EQ(KeptOnScreen({1500, 900, 900, 700}, screen), (ControlBox{1020, 340, 900, 700}));
  EXPECT_EQ(KeptOnScreen({100, 100, 900, 700}, screen), (ControlBox{100, 100, 900, 700}));  // on it: unmoved
  EXPECT_EQ(KeptOnScreen({-50, -50, 3000, 1200}, screen), screen);  // larger than it
  // Another DPI: the size scaled, never below the first size.
  EXPECT_EQ(PlaceAtDpi({{10, 20, 900, 700}, false, 96}, 144), (ControlBox{10, 20, 1350, 1050}));
  EXPECT_EQ(PlaceAtDpi({{10, 20, 400, 270}, false, 96}, 144), (ControlBox{10, 20, 600, 405}));
  EXPECT_EQ(PlaceAtDpi({{10, 20, 600, 405}, false, 144}, 96), (ControlBox{10, 20, 400, 270}));
}

}  // namespace
