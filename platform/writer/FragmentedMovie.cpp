#include "platform/writer/FragmentedMovie.h"

#include "platform/writer/MovieBoxes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <array>
#include <map>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

namespace orva {

using namespace boxes;

namespace {

constexpr uint64_t kLargestDescription = 64u << 20; // a moov or moof box larger than this is damage
constexpr uint32_t kMostSamplesPerRun = 1u << 20;
constexpr const char* kPrimingKey = "com.orva.aac-priming";

bool readAt(int fd, uint64_t offset, void* to, size_t size)
{
    auto* out = static_cast<uint8_t*>(to);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

struct TopBox {
    uint32_t type = 0;
    uint64_t offset = 0, size = 0;
    uint32_t header = 8;
    uint64_t end() const { return offset + size; }
};

// The top-level box at `offset`; false when its header or body runs past the end.
bool topBox(int fd, uint64_t offset, uint64_t fileSize, TopBox& box)
{
    if (fileSize - offset < 8) return false;
    uint8_t header[16] = {};
    const size_t want = fileSize - offset >= 16 ? 16 : 8;
    if (!readAt(fd, offset, header, want)) return false;
    FieldReader r(header, want);
    uint64_t size = r.u32();
    box.type = r.u32();
    box.header = 8;
    if (size == 1) {
        if (want < 16) return false;
        size = r.u64();
        box.header = 16;
    } else if (size == 0) {
        return false; // "to the end of the file": an index written after it would be hidden in it
    }
    box.offset = offset;
    box.size = size;
    return size >= box.header && size <= fileSize - offset;
}

std::vector<uint8_t> boxBytes(const uint8_t* data, const Box& box)
{
    return {data + box.offset, data + box.offset + box.size};
}

// A child box's content, found by a path of types from inside `box`.
bool descend(const uint8_t* data, Box box, std::initializer_list<uint32_t> path, Box& found)
{
    for (uint32_t type : path) {
        BoxCursor inside(data + box.contentOffset(), static_cast<size_t>(box.contentSize()));
        Box child;
        if (!inside.find(type, child)) return false;
        child.offset += box.contentOffset();
        box = child;
    }
    found = box;
    return true;
}

// Whether a sample entry's children (from `childrenAt` inside the entry) hold a box
// of this type, looking one level into 'wave' (QuickTime audio keeps esds there).
bool entryHas(const uint8_t* entry, size_t size, size_t childrenAt, uint32_t wanted)
{
    if (childrenAt >= size) return false;
    BoxCursor children(entry + childrenAt, size - childrenAt);
    Box child;
    while (children.next(child)) {
        if (child.type == wanted) return true;
        if (child.type == type("wave") &&
            entryHas(entry + childrenAt + child.offset, static_cast<size_t>(child.size), 8, wanted))
            return true;
    }
    return false;
}

// Reads the first sample description: its format, and whether a movie can carry it.
void describe(const uint8_t* stsd, size_t size, FragmentedMovie::Track& track)
{
    FieldReader r(stsd, size);
    r.skip(8 + 4); // header, version and flags
    const uint32_t entries = r.u32();
    const size_t entryAt = r.position();
    const uint32_t entrySize = r.u32();
    track.codec = r.u32();
    if (!r.ok() || entries == 0 || entrySize < 16 || entrySize > size - entryAt) {
        track.problem = "its sample description is missing or cut short";
        return;
    }
    // Every entry the count promises must be there (readers walk them all).
    size_t at = entryAt;
    for (uint32_t i = 0; i < entries; ++i) {
        FieldReader e(stsd + at, size - at);
        const uint32_t length = e.u32();
        if (!e.ok() || length < 16 || length > size - at) {
            track.problem = "its sample descriptions are damaged";
            return;
        }
        at += length;
    }
    const uint8_t* entry = stsd + entryAt;
    if (track.handler == type("vide")) {
        // A visual sample entry's fields take 78 bytes after the header.
        if (track.codec == type("avc1") || track.codec == type("avc3")) {
            Box avcC;
            BoxCursor children(entry + 86 < entry + entrySize ? entry + 86 : entry, entrySize > 86 ? entrySize - 86 : 0);
            if (entrySize <= 86 || !children.find(type("avcC"), avcC) || avcC.contentSize() < 7 ||
                entry[86 + avcC.contentOffset()] != 1 || (entry[86 + avcC.contentOffset() + 5] & 0x1F) == 0) {
                track.problem = "its H.264 description has no usable parameter sets";
                return;
            }
        } else if (entrySize < 86) {
            track.problem = "its picture description is cut short";
            return;
        }
    } else if (track.handler == type("soun")) {
        FieldReader s(entry, entrySize);
        s.skip(16);
        const uint16_t version = s.u16();
        s.skip(6);
        const uint16_t channels = s.u16();
        const size_t childrenAt = version == 2 ? 72 : version == 1 ? 52 : 36;
        if (!s.ok() || version > 2 || (version < 2 && channels == 0) || entrySize < childrenAt) {
            track.problem = "its sound description is damaged";
            return;
        }
        if (track.codec == type("mp4a") && !entryHas(entry, entrySize, childrenAt, type("esds"))) {
            track.problem = "its AAC description has no decoder configuration";
            return;
        }
    }
    track.describable = true;
}

bool readTrak(const uint8_t* data, const Box& trak, FragmentedMovie::Track& track)
{
    track.trak = boxBytes(data, trak);
    Box tkhd, mdhd, hdlr, stsd;
    if (!descend(data, trak, {type("tkhd")}, tkhd)) return false;
    FieldReader t(data + tkhd.contentOffset(), static_cast<size_t>(tkhd.contentSize()));
    const uint8_t tkhdVersion = t.u8();
    t.skip(3 + (tkhdVersion == 1 ? 16 : 8));
    track.id = t.u32();
    if (!t.ok() || track.id == 0) return false;
    if (descend(data, trak, {type("mdia"), type("mdhd")}, mdhd)) {
        FieldReader m(data + mdhd.contentOffset(), static_cast<size_t>(mdhd.contentSize()));
        const uint8_t version = m.u8();
        m.skip(3 + (version == 1 ? 16 : 8));
        track.timescale = m.u32();
    }
    if (descend(data, trak, {type("mdia"), type("hdlr")}, hdlr)) {
        FieldReader h(data + hdlr.contentOffset(), static_cast<size_t>(hdlr.contentSize()));
        h.skip(8);
        track.handler = h.u32();
    }
    if (track.timescale == 0) {
        track.problem = "its media has no time scale";
    } else if (!descend(data, trak, {type("mdia"), type("minf"), type("stbl"), type("stsd")}, stsd)) {
        track.problem = "it has no sample description";
    } else {
        track.stsd = boxBytes(data, stsd);
        describe(data + stsd.offset, static_cast<size_t>(stsd.size), track);
    }
    return true;
}

// Whether a movie's metadata (udta) is whole: every box in it fits exactly, and its
// key list and item list too. Readers refuse a file whose metadata runs past its box.
bool metadataUsable(const uint8_t* udta, size_t size)
{
    if (size < 8) return false;
    BoxCursor children(udta + 8, size - 8);
    Box child;
    while (children.next(child)) {
        if (child.type != type("meta")) continue;
        const uint8_t* meta = udta + 8 + child.offset;
        size_t at = child.header;
        if (child.contentSize() >= 4 && meta[at] == 0 && meta[at + 1] == 0 && meta[at + 2] == 0 && meta[at + 3] == 0)
            at += 4;
        BoxCursor parts(meta + at, static_cast<size_t>(child.size) - at);
        Box part;
        while (parts.next(part)) {
            const uint8_t* body = meta + at + part.contentOffset();
            const size_t length = static_cast<size_t>(part.contentSize());
            if (part.type == type("keys")) {
                FieldReader k(body, length);
                k.skip(4);
                const uint32_t count = k.u32();
                for (uint32_t i = 0; i < count; ++i) {
                    const uint32_t keySize = k.u32();
                    // Keys of another namespace than 'mdta' make readers lose their place.
                    if (!k.ok() || keySize < 8 || keySize - 4 > k.remaining() || k.u32() != type("mdta")) return false;
                    k.skip(keySize - 8);
                }
                if (!k.ok() || k.remaining() != 0) return false;
            } else if (part.type == type("ilst")) {
                BoxCursor items(body, length);
                Box item;
                while (items.next(item)) {
                }
                if (!items.atEnd()) return false;
            }
        }
        if (!parts.atEnd()) return false;
    }
    return children.atEnd();
}

// "com.orva.aac-priming" from the movie's metadata (keys and ilst in udta/meta).
int64_t primingFrom(const std::vector<uint8_t>& udta)
{
    if (udta.size() < 8) return 0;
    Box whole{type("udta"), 0, 8, udta.size()}, meta;
    if (!descend(udta.data(), whole, {type("meta")}, meta)) return 0;
    // meta may be a full box (four bytes of version and flags before its children).
    size_t at = meta.contentOffset();
    if (meta.contentSize() >= 4 && udta[at] == 0 && udta[at + 1] == 0 && udta[at + 2] == 0 && udta[at + 3] == 0) at += 4;
    const size_t end = static_cast<size_t>(meta.offset + meta.size);
    BoxCursor children(udta.data() + at, end - at);
    Box child, keys{}, ilst{};
    bool haveKeys = false, haveIlst = false;
    while (children.next(child)) {
        child.offset += at;
        if (child.type == type("keys")) keys = child, haveKeys = true;
        if (child.type == type("ilst")) ilst = child, haveIlst = true;
    }
    if (!haveKeys || !haveIlst) return 0;
    FieldReader k(udta.data() + keys.contentOffset(), static_cast<size_t>(keys.contentSize()));
    k.skip(4);
    const uint32_t count = k.u32();
    uint32_t index = 0;
    for (uint32_t i = 1; i <= count && k.ok() && index == 0; ++i) {
        const uint32_t size = k.u32();
        k.skip(4);
        if (size < 8 || size - 8 > k.remaining()) break;
        const auto* name = udta.data() + keys.contentOffset() + k.position();
        if (size - 8 == std::strlen(kPrimingKey) && std::memcmp(name, kPrimingKey, size - 8) == 0) index = i;
        k.skip(size - 8);
    }
    if (index == 0) return 0;
    BoxCursor items(udta.data() + ilst.contentOffset(), static_cast<size_t>(ilst.contentSize()));
    Box item;
    while (items.next(item)) {
        if (item.type != index) continue;
        item.offset += ilst.contentOffset();
        Box data;
        if (!descend(udta.data(), item, {type("data")}, data) || data.contentSize() <= 8) return 0;
        const std::string text(reinterpret_cast<const char*>(udta.data() + data.contentOffset() + 8),
                               static_cast<size_t>(data.contentSize() - 8));
        const long long value = std::strtoll(text.c_str(), nullptr, 10);
        return value > 0 && value < 1 << 20 ? value : 0;
    }
    return 0;
}

bool readMovieBox(const std::vector<uint8_t>& moov, FragmentedMovie& movie, bool& fragmented)
{
    BoxCursor children(moov.data() + 8, moov.size() - 8);
    Box child;
    std::map<uint32_t, std::array<uint32_t, 3>> defaults;
    fragmented = false;
    while (children.next(child)) {
        child.offset += 8;
        if (child.type == type("mvhd")) {
            movie.mvhd = boxBytes(moov.data(), child);
            FieldReader m(moov.data() + child.contentOffset(), static_cast<size_t>(child.contentSize()));
            const uint8_t version = m.u8();
            m.skip(3 + (version == 1 ? 16 : 8));
            const uint32_t timescale = m.u32();
            if (m.ok() && timescale > 0) movie.movieTimescale = timescale;
        } else if (child.type == type("trak")) {
            FragmentedMovie::Track track;
            if (readTrak(moov.data(), child, track)) movie.tracks.push_back(std::move(track));
        } else if (child.type == type("udta")) {
            // Damaged metadata is left out: nothing a movie needs is in it.
            if (metadataUsable(moov.data() + child.offset, static_cast<size_t>(child.size)))
                movie.udta = boxBytes(moov.data(), child);
        } else if (child.type == type("mvex")) {
            fragmented = true;
            BoxCursor extends(moov.data() + child.contentOffset(), static_cast<size_t>(child.contentSize()));
            Box trex;
            while (extends.next(trex)) {
                if (trex.type != type("trex")) continue;
                FieldReader r(moov.data() + child.contentOffset() + trex.contentOffset(),
                              static_cast<size_t>(trex.contentSize()));
                r.skip(4);
                const uint32_t id = r.u32();
                r.skip(4); // sample description index
                const uint32_t duration = r.u32(), size = r.u32(), flags = r.u32();
                if (r.ok()) defaults[id] = {duration, size, flags};
            }
        }
    }
    for (auto& track : movie.tracks) {
        if (auto it = defaults.find(track.id); it != defaults.end()) {
            track.defaultDuration = it->second[0];
            track.defaultSize = it->second[1];
            track.defaultFlags = it->second[2];
        }
    }
    movie.aacPriming = primingFrom(movie.udta);
    return !movie.mvhd.empty();
}

// A finished movie's index: each track has a sample description a reader can use and
// sample tables with samples in them. Its length and how many tracks, or nothing.
std::optional<std::pair<double, size_t>> readIndex(const std::vector<uint8_t>& moov)
{
    BoxCursor children(moov.data() + 8, moov.size() - 8);
    Box child;
    bool header = false;
    double seconds = 0;
    size_t tracks = 0;
    while (children.next(child)) {
        child.offset += 8;
        if (child.type == type("mvhd")) {
            FieldReader m(moov.data() + child.contentOffset(), static_cast<size_t>(child.contentSize()));
            const uint8_t version = m.u8();
            m.skip(3 + (version == 1 ? 16 : 8));
            const uint32_t timescale = m.u32();
            const uint64_t duration = version == 1 ? m.u64() : m.u32();
            header = m.ok() && timescale > 0;
            if (header) seconds = static_cast<double>(duration) / timescale;
        }
        if (child.type == type("mvex")) return std::nullopt;
        if (child.type == type("udta") && !metadataUsable(moov.data() + child.offset, static_cast<size_t>(child.size)))
            return std::nullopt;
        if (child.type != type("trak")) continue;
        FragmentedMovie::Track track;
        if (!readTrak(moov.data(), child, track) || !track.describable) return std::nullopt;
        for (const char* table : {"stts", "stsc", "stsz"}) {
            Box found;
            const uint32_t name = uint32_t(uint8_t(table[0])) << 24 | uint32_t(uint8_t(table[1])) << 16 |
                                  uint32_t(uint8_t(table[2])) << 8 | uint32_t(uint8_t(table[3]));
            if (!descend(moov.data(), child, {type("mdia"), type("minf"), type("stbl"), name}, found))
                return std::nullopt;
            FieldReader r(moov.data() + found.contentOffset(), static_cast<size_t>(found.contentSize()));
            r.skip(name == type("stsz") ? 8 : 4);
            if (r.u32() == 0 || !r.ok()) return std::nullopt;
        }
        Box offsets;
        if (!descend(moov.data(), child, {type("mdia"), type("minf"), type("stbl"), type("stco")}, offsets) &&
            !descend(moov.data(), child, {type("mdia"), type("minf"), type("stbl"), type("co64")}, offsets))
            return std::nullopt;
        ++tracks;
    }
    if (!header || tracks == 0) return std::nullopt;
    return std::make_pair(seconds, tracks);
}

struct Pending {
    FragmentedMovie::Track* track = nullptr;
    std::vector<FragmentedMovie::Sample> samples;
    std::vector<FragmentedMovie::Chunk> chunks; // firstSample relative to `samples`
    bool haveTime = false;
    uint64_t time = 0;
};

// One moof (bytes at `moofOffset` in the file) whose data lies in [dataStart, dataEnd).
bool readFragment(const std::vector<uint8_t>& moof, uint64_t moofOffset, uint64_t dataStart, uint64_t dataEnd,
                  FragmentedMovie& movie)
{
    std::vector<Pending> pending;
    BoxCursor children(moof.data() + 8, moof.size() - 8);
    Box traf;
    uint64_t previousEnd = moofOffset;
    while (children.next(traf)) {
        traf.offset += 8;
        if (traf.type != type("traf")) continue;
        Box tfhd;
        if (!descend(moof.data(), traf, {type("tfhd")}, tfhd)) return false;
        FieldReader h(moof.data() + tfhd.contentOffset(), static_cast<size_t>(tfhd.contentSize()));
        const uint32_t flags = h.u32() & 0xFFFFFF;
        const uint32_t id = h.u32();
        auto track = std::find_if(movie.tracks.begin(), movie.tracks.end(), [&](const auto& t) { return t.id == id; });
        if (!h.ok() || track == movie.tracks.end()) return false;
        uint64_t base = flags & 0x20000 ? moofOffset : previousEnd;
        if (flags & 0x1) base = h.u64();
        if (flags & 0x2) h.skip(4);
        const uint32_t defaultDuration = flags & 0x8 ? h.u32() : track->defaultDuration;
        const uint32_t defaultSize = flags & 0x10 ? h.u32() : track->defaultSize;
        const uint32_t defaultFlags = flags & 0x20 ? h.u32() : track->defaultFlags;
        if (!h.ok()) return false;

        Pending part;
        part.track = &*track;
        Box tfdt;
        if (descend(moof.data(), traf, {type("tfdt")}, tfdt)) {
            FieldReader d(moof.data() + tfdt.contentOffset(), static_cast<size_t>(tfdt.contentSize()));
            const uint8_t version = d.u8();
            d.skip(3);
            part.time = version == 1 ? d.u64() : d.u32();
            part.haveTime = d.ok();
        }
        BoxCursor runs(moof.data() + traf.contentOffset(), static_cast<size_t>(traf.contentSize()));
        Box trun;
        uint64_t next = base;
        while (runs.next(trun)) {
            if (trun.type != type("trun")) continue;
            FieldReader r(moof.data() + traf.contentOffset() + trun.contentOffset(), static_cast<size_t>(trun.contentSize()));
            const uint32_t word = r.u32();
            const uint8_t version = static_cast<uint8_t>(word >> 24);
            const uint32_t runFlags = word & 0xFFFFFF;
            const uint32_t count = r.u32();
            if (runFlags & 0x1) next = base + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(r.u32())));
            const uint32_t firstFlags = runFlags & 0x4 ? r.u32() : defaultFlags;
            if (!r.ok() || count > kMostSamplesPerRun) return false;
            FragmentedMovie::Chunk chunk{part.samples.size(), 0};
            for (uint32_t i = 0; i < count; ++i) {
                FragmentedMovie::Sample s;
                s.duration = runFlags & 0x100 ? r.u32() : defaultDuration;
                s.size = runFlags & 0x200 ? r.u32() : defaultSize;
                uint32_t sampleFlags = runFlags & 0x400 ? r.u32() : (i == 0 ? firstFlags : defaultFlags);
                if (i == 0 && (runFlags & 0x4)) sampleFlags = firstFlags;
                if (runFlags & 0x800) {
                    const uint32_t cts = r.u32();
                    s.compositionOffset = version == 0 ? static_cast<int32_t>(std::min<uint32_t>(cts, INT32_MAX))
                                                       : static_cast<int32_t>(cts);
                }
                s.sync = (sampleFlags & 0x10000) == 0;
                s.offset = next;
                if (!r.ok() || s.size == 0 || s.offset < dataStart || s.offset > dataEnd || s.size > dataEnd - s.offset)
                    return false; // a sample outside the data after this moof
                next += s.size;
                part.samples.push_back(s);
            }
            chunk.count = count;
            if (count > 0) part.chunks.push_back(chunk);
        }
        previousEnd = next;
        pending.push_back(std::move(part));
    }
    // Whole: take its samples, each run a chunk.
    for (auto& part : pending) {
        auto& track = *part.track;
        if (part.samples.empty()) continue;
        if (track.samples.empty()) {
            track.start = part.haveTime ? part.time : 0;
            track.end = track.start;
        } else if (part.haveTime && part.time > track.end) {
            // Time nobody filled (samples lost before they reached the file): the
            // sample before lasts until this fragment starts.
            const uint64_t gap = part.time - track.end;
            track.samples.back().duration =
                static_cast<uint32_t>(std::min<uint64_t>(uint64_t{track.samples.back().duration} + gap, UINT32_MAX));
            track.end += gap;
        }
        const size_t first = track.samples.size();
        for (const auto& chunk : part.chunks) track.chunks.push_back({first + chunk.firstSample, chunk.count});
        for (const auto& s : part.samples) {
            track.samples.push_back(s);
            track.end += s.duration;
        }
    }
    return true;
}

} // namespace

size_t FragmentedMovie::sampleCount() const
{
    size_t n = 0;
    for (const auto& t : tracks) n += t.samples.size();
    return n;
}

std::optional<FragmentedMovie> FragmentedMovie::read(int fd, std::string* error)
{
    auto fail = [&](const std::string& why) -> std::optional<FragmentedMovie> {
        if (error) *error = why;
        return std::nullopt;
    };
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a regular file");
    FragmentedMovie movie;
    movie.fileSize = static_cast<uint64_t>(st.st_size);
    bool sawMovieBox = false, fragmented = false;
    uint64_t pos = 0;
    TopBox box;
    while (topBox(fd, pos, movie.fileSize, box)) {
        if (box.type == type("moov") || (box.type == type("moof") && sawMovieBox)) {
            if (box.size > kLargestDescription) break;
            std::vector<uint8_t> bytes(static_cast<size_t>(box.size));
            if (!readAt(fd, box.offset, bytes.data(), bytes.size())) break;
            if (box.type == type("moov") && !sawMovieBox) {
                sawMovieBox = true;
                movie.firstMoovOffset = box.offset;
                if (!readMovieBox(bytes, movie, fragmented)) return fail("its movie header is damaged");
                movie.firstMoovFragmented = fragmented;
                movie.firstMoovHeadedByMvhd = box.header == 8 && bytes.size() >= 16 && bytes[12] == 'm' &&
                                              bytes[13] == 'v' && bytes[14] == 'h' && bytes[15] == 'd';
                if (!fragmented) { // a regular movie, or one finished in place: this is its index
                    const auto index = readIndex(bytes);
                    if (!index) return fail("its movie header lists no sample");
                    movie.finished = true;
                    movie.indexOffset = box.offset;
                    std::tie(movie.indexSeconds, movie.indexTracks) = *index;
                }
            } else if (box.type == type("moov")) {
                const auto index = readIndex(bytes);
                if (!index) break; // an index cut short while it was written
                movie.finished = true;
                movie.indexOffset = box.offset;
                std::tie(movie.indexSeconds, movie.indexTracks) = *index;
            } else { // a moof is complete only with the whole mdat after it
                TopBox mdat;
                if (movie.finished || !topBox(fd, box.end(), movie.fileSize, mdat) || mdat.type != type("mdat") ||
                    !readFragment(bytes, box.offset, mdat.offset + mdat.header, mdat.end(), movie))
                    break;
                movie.fragments.push_back(box.offset);
                box.size = mdat.end() - box.offset;
            }
        } else if (box.type == type("moof")) {
            // Before any movie box: the file was being finished in place when it
            // stopped, and its first description is already gone.
            movie.fragments.push_back(box.offset);
        } else if (box.type == type("free") && !sawMovieBox && box.offset > 0) {
            movie.firstMoovNeutralised = true;
        } else if (box.type != type("ftyp") && box.type != type("free") && box.type != type("skip") &&
                   box.type != type("wide") && box.type != type("mdat") && !movie.finished) {
            // The fragments' random access index goes with them, and so does anything
            // else a reader might trip on before the index.
            movie.strays.push_back(box.offset);
        }
        pos = box.end();
        movie.completeEnd = pos;
    }
    if (!sawMovieBox && !movie.finished) return fail("it holds no movie description");
    return movie;
}

} // namespace orva
