// The newest picture, handed from one writing thread (the camera's) to one reading
// thread (the window's) without either waiting: three buffers, one being filled, one
// ready, one being shown. A reader that is slow sees fewer pictures; the writer never
// waits for it. The buffers grow to the largest picture once and are reused.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orva {

class LatestFrame {
public:
    struct Picture {
        std::vector<uint8_t> bytes;
        uint32_t width = 0, height = 0;
        bool planar = false; // I420, else UYVY
        int64_t timestamp = 0;
    };

    // Before the threads use it: room for pictures of `bytes`.
    void reserve(size_t bytes)
    {
        for (auto& picture : mPictures) picture.bytes.reserve(bytes);
    }
    // Writer: the buffer to fill next, then publish() it.
    Picture& back() { return mPictures[mBack]; }
    void publish();
    // Reader: the newest picture published since the last call, or null.
    const Picture* take();

private:
    static constexpr uint32_t kFresh = 4; // the ready buffer was published since the last take
    std::array<Picture, 3> mPictures;
    std::atomic<uint32_t> mReady{1}; // the ready buffer's index, with kFresh
    uint32_t mBack = 0, mFront = 2;  // the writer's and the reader's own
};

} // namespace orva
