// A single-producer, single-consumer ring of timed audio chunks: the sound server's
// real-time thread writes each cycle's frames with the cycle's capture time, and a
// delivery thread of ours reads them. Writing never blocks, locks or allocates; a
// chunk that does not fit is not written and its frames are counted as lost, carried
// by the next chunk that fits so the reader can account for them.
//
// Threads: write() from one producer thread, read()/wait() from one consumer thread;
// wake() and lost() from any thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zi::sys {

class CaptureRing {
public:
    struct Chunk {
        int64_t time = 0;        // the cycle's time less the chunk's length, microseconds
        int32_t delay = 0;       // what the graph says its capture took before that, microseconds
        uint32_t frames = 0;     // frames in the chunk
        uint32_t lostBefore = 0; // frames lost (not written) just before this chunk
    };

    CaptureRing(uint32_t bytesPerFrame, uint32_t capacityFrames, uint32_t capacityChunks)
        : mBytesPerFrame(bytesPerFrame), mData(size_t{capacityFrames} * bytesPerFrame), mChunks(capacityChunks)
    {
    }

    // Producer. False when it did not fit (its frames are then counted as lost).
    bool write(const void* frames, uint32_t count, int64_t time, int32_t delay)
    {
        const uint64_t chunkHead = mChunkHead.load(std::memory_order_relaxed);
        const uint64_t byteHead = mByteHead.load(std::memory_order_relaxed);
        const size_t bytes = size_t{count} * mBytesPerFrame;
        if (chunkHead - mChunkTail.load(std::memory_order_acquire) >= mChunks.size() ||
            byteHead + bytes - mByteTail.load(std::memory_order_acquire) > mData.size()) {
            mPendingLost += count;
            mLost.fetch_add(count, std::memory_order_relaxed);
            return false;
        }
        const size_t at = byteHead % mData.size();
        const size_t first = std::min(bytes, mData.size() - at);
        std::memcpy(mData.data() + at, frames, first);
        std::memcpy(mData.data(), static_cast<const uint8_t*>(frames) + first, bytes - first);
        mChunks[chunkHead % mChunks.size()] = Chunk{time, delay, count, mPendingLost};
        mPendingLost = 0;
        mByteHead.store(byteHead + bytes, std::memory_order_release);
        mChunkHead.store(chunkHead + 1, std::memory_order_release);
        mWritten.fetch_add(1, std::memory_order_release);
        mWritten.notify_one();
        return true;
    }

    // Consumer. Takes the oldest chunk's description; its frames are then read with
    // readFrames() (all of them, before the next take()). False when empty.
    bool take(Chunk& chunk)
    {
        const uint64_t tail = mChunkTail.load(std::memory_order_relaxed);
        if (tail == mChunkHead.load(std::memory_order_acquire)) return false;
        chunk = mChunks[tail % mChunks.size()];
        mChunkTail.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Consumer: copies the next `count` frames out and frees their room.
    void readFrames(void* to, uint32_t count)
    {
        const uint64_t tail = mByteTail.load(std::memory_order_relaxed);
        const size_t bytes = size_t{count} * mBytesPerFrame;
        const size_t at = tail % mData.size();
        const size_t first = std::min(bytes, mData.size() - at);
        std::memcpy(to, mData.data() + at, first);
        std::memcpy(static_cast<uint8_t*>(to) + first, mData.data(), bytes - first);
        mByteTail.store(tail + bytes, std::memory_order_release);
    }
    // Consumer: waits until a chunk is written after `seen` (see written()) or wake().
    void wait(uint32_t seen) const { mWritten.wait(seen, std::memory_order_acquire); }
    uint32_t written() const { return mWritten.load(std::memory_order_acquire); }
    // Any thread: ends a wait().
    void wake()
    {
        mWritten.fetch_add(1, std::memory_order_release);
        mWritten.notify_all();
    }
    // Frames lost because the ring was full, since it was made. Any thread.
    uint64_t lost() const { return mLost.load(std::memory_order_relaxed); }

private:
    const uint32_t mBytesPerFrame;
    std::vector<uint8_t> mData;
    std::vector<Chunk> mChunks;
    std::atomic<uint64_t> mByteHead{0}, mByteTail{0};
    std::atomic<uint64_t> mChunkHead{0}, mChunkTail{0};
    std::atomic<uint32_t> mWritten{0};
    std::atomic<uint64_t> mLost{0};
    uint32_t mPendingLost = 0; // producer only
};

} // namespace zi::sys
