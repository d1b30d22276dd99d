#pragma once
// JPEG encoding of rendered pages.

#include <cstdint>
#include <string>
#include <vector>

namespace office::detail {

// Encodes rows of 3-byte B, G, R pixels (`stride` bytes apart) as a baseline JPEG. False, with
// `error` set, when libjpeg refuses.
bool EncodeJpegBgr(const unsigned char* pixels, int width, int height, int stride, int quality,
                   std::vector<unsigned char>& out, std::string& error);

}  // namespace office::detail
