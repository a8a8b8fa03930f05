// Asks libavformat, before anything on disk changes, whether a movie finished in
// place will open: the file as it will be (its complete part, the boxes to be freed
// already free, the new index after it) is served from memory and the disk, and the
// reader opens it and reads its tracks' descriptions (no media). A description a
// reader refuses (a damaged decoder configuration, say) is caught here, not by the
// person who opens the movie.
#pragma once

#include <cstdint>
#include <vector>

namespace orva {

class MovieIndexCheck {
public:
    // `fd`: the file (read); its first `end` bytes stay; the four bytes after each
    // offset in `freed` become "free"; `index` follows.
    static bool opens(int fd, uint64_t end, const std::vector<uint64_t>& freed, const std::vector<uint8_t>& index);
};

} // namespace orva
