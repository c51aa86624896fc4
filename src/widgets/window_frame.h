#pragma once
// Each window's client area is its outer size less a 3-pixel frame on each side and a 22-pixel caption, which
// the window manager adds; the sizes the windows are laid out for are outer sizes.

namespace tandrel {

inline constexpr int kFrameWidth = 6;    // outer width - client width
inline constexpr int kFrameHeight = 28;  // outer height - client height

}  // namespace tandrel
