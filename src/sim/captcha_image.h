#pragma once
// The picture behind the login captcha: a small grayscale PNG of noise and strokes. Nobody has to read it;
// it only has to be a real image that the login window can decode and show.

#include <cstdint>
#include <string>
#include <string_view>

namespace tandrel::sim {

// PNG file bytes; the same seed gives the same picture.
std::string MakeCaptchaPng(std::uint64_t seed);

// A goods picture as the marketplace's picture host serves it: a small colour PNG (a tinted background with a
// lighter parcel shape), different for each seed and the same for the same seed.
std::string MakeGoodsPng(std::uint64_t seed);

// Standard-alphabet Base64 with "=" padding.
std::string Base64Encode(std::string_view bytes);

}  // namespace tandrel::sim
