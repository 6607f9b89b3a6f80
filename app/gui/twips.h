// Window sizes are designed in twips (1440 to the inch) and shown in pixels
// at the screen's logical DPI, so a window keeps its designed proportions on
// any screen; Qt scales logical pixels to device pixels on high-DPI screens.
#pragma once

#include <cmath>

namespace tallimo::gui {

inline constexpr int kTwipsPerInch = 1440;

// The main window as designed: the advanced screen's client area, and the
// height of the standard screen.
inline constexpr int kDesignWidthTwips = 10365;
inline constexpr int kDesignHeightTwips = 8730;
inline constexpr int kStandardHeightTwips = 3400;

inline int twips_to_pixels(int twips, double logical_dpi) {
  return static_cast<int>(std::lround(twips * logical_dpi / kTwipsPerInch));
}

}  // namespace tallimo::gui
