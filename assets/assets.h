#pragma once
// The program's resources (the alert sounds) live in a static library, whose registration the linker would
// otherwise drop: call this before the first read of a ":/" path.

namespace tandrel {

void InitAssets();

}  // namespace tandrel
