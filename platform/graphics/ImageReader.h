// Reading image files (PNG, JPEG, BMP, GIF, TIFF) with gdk-pixbuf: the first image,
// as non-premultiplied RGBA rows from the top. Any thread.
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
    // Null, with the reason in `error`, when the file cannot be read or decoded.
    static std::optional<Image> read(const std::string& path, std::string* error = nullptr);
};

} // namespace orva
