// Reading image files (PNG, JPEG, BMP, GIF, TIFF) with gdk-pixbuf: the first image,
// as non-premultiplied RGBA rows from the top. Any thread. Only regular files of at
// most kMaximumFileBytes are read, and a picture whose header declares a side longer
// than kMaximumSide is refused before its pixels are decoded (a small file can
// declare gigabytes of pixels).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orva {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba; // width × height × 4, rows from the top, not premultiplied
};

class ImageReader {
public:
    static constexpr int kMaximumSide = 8192;
    static constexpr uint64_t kMaximumFileBytes = 64u << 20;
    // Null, with the reason in `error`, when the file cannot be read or decoded.
    static std::optional<Image> read(const std::string& path, std::string* error = nullptr);
};

} // namespace orva
