#include "platform/writer/MovieIndex.h"

#include "platform/writer/MovieBoxes.h"

#include <algorithm>

namespace orva {

using namespace boxes;

namespace {

bool isUncompressedSound(uint32_t codec)
{
    for (const char* c : {"sowt", "twos", "lpcm", "raw ", "in24", "in32", "fl32", "fl64", "NONE"})
        if (codec == (uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 | uint32_t(uint8_t(c[2])) << 8 |
                      uint32_t(uint8_t(c[3]))))
            return true;
    return false;
}

// Rounded up: a duration in the coarser movie time scale never cuts the media short
// (readers end a track's last sample where its edit ends).
uint64_t rescale(uint64_t value, uint32_t from, uint32_t to)
{
    if (from == 0) return 0;
    const unsigned __int128 scaled = (static_cast<unsigned __int128>(value) * to + from - 1) / from;
    return static_cast<uint64_t>(std::min<unsigned __int128>(scaled, UINT64_MAX));
}

// A header box (mvhd, tkhd, mdhd) written again with a new duration, as version 1
// when a time needs 64 bits. `beforeDuration` are the 32-bit fields between the
// modification time and the duration (timescale, or track id and a reserved word).
void rewriteHeader(BoxWriter& out, const uint8_t* box, const Box& header, size_t beforeDuration, uint64_t duration)
{
    FieldReader r(box + header.contentOffset(), static_cast<size_t>(header.contentSize()));
    const uint32_t word = r.u32();
    const uint8_t version = static_cast<uint8_t>(word >> 24);
    const uint64_t created = version == 1 ? r.u64() : r.u32();
    const uint64_t modified = version == 1 ? r.u64() : r.u32();
    std::vector<uint32_t> fields;
    for (size_t i = 0; i < beforeDuration; ++i) fields.push_back(r.u32());
    if (version == 1)
        r.u64();
    else
        r.u32();
    const size_t rest = r.remaining();
    const uint8_t* restBytes = box + header.contentOffset() + r.position();
    const bool wide = duration > UINT32_MAX || created > UINT32_MAX || modified > UINT32_MAX;
    out.openFull(header.type, wide ? 1 : 0, word & 0xFFFFFF);
    if (wide) {
        out.u64(created);
        out.u64(modified);
    } else {
        out.u32(static_cast<uint32_t>(created));
        out.u32(static_cast<uint32_t>(modified));
    }
    for (uint32_t f : fields) out.u32(f);
    if (wide)
        out.u64(duration);
    else
        out.u32(static_cast<uint32_t>(duration));
    out.bytes(restBytes, rest);
    out.close();
}

struct Plan {
    const FragmentedMovie::Track* track = nullptr;
    bool uncompressedSound = false;
    uint32_t blockAlign = 0;
    uint64_t mediaDuration = 0; // timescale of the media
    int64_t priming = 0;
    uint64_t emptyEdit = 0;     // movie timescale
    uint64_t shownDuration = 0; // movie timescale, after the priming
};

void writeSampleTables(BoxWriter& out, const Plan& plan)
{
    const auto& samples = plan.track->samples;
    const auto& chunks = plan.track->chunks;
    out.open(type("stbl"));
    out.bytes(plan.track->stsd); // as the track was described
    // stts: durations, run by run (uncompressed sound: one per frame).
    {
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        if (plan.uncompressedSound) {
            uint64_t frames = 0;
            for (const auto& s : samples) frames += s.size / plan.blockAlign;
            runs.emplace_back(static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX)), 1);
        } else {
            for (const auto& s : samples) {
                if (!runs.empty() && runs.back().second == s.duration)
                    ++runs.back().first;
                else
                    runs.emplace_back(1, s.duration);
            }
        }
        out.openFull(type("stts"), 0, 0);
        out.u32(static_cast<uint32_t>(runs.size()));
        for (const auto& [count, delta] : runs) {
            out.u32(count);
            out.u32(delta);
        }
        out.close();
    }
    // ctts, when any sample is shown at another time than it is decoded.
    if (!plan.uncompressedSound &&
        std::any_of(samples.begin(), samples.end(), [](const auto& s) { return s.compositionOffset != 0; })) {
        std::vector<std::pair<uint32_t, int32_t>> runs;
        for (const auto& s : samples) {
            if (!runs.empty() && runs.back().second == s.compositionOffset)
                ++runs.back().first;
            else
                runs.emplace_back(1, s.compositionOffset);
        }
        const bool negative = std::any_of(runs.begin(), runs.end(), [](const auto& r) { return r.second < 0; });
        out.openFull(type("ctts"), negative ? 1 : 0, 0);
        out.u32(static_cast<uint32_t>(runs.size()));
        for (const auto& [count, offset] : runs) {
            out.u32(count);
            out.u32(static_cast<uint32_t>(offset));
        }
        out.close();
    }
    // stss, unless every sample is a sync sample.
    if (!plan.uncompressedSound && std::any_of(samples.begin(), samples.end(), [](const auto& s) { return !s.sync; })) {
        std::vector<uint32_t> sync;
        for (size_t i = 0; i < samples.size(); ++i)
            if (samples[i].sync) sync.push_back(static_cast<uint32_t>(i + 1));
        out.openFull(type("stss"), 0, 0);
        out.u32(static_cast<uint32_t>(sync.size()));
        for (uint32_t n : sync) out.u32(n);
        out.close();
    }
    // stsc: samples per chunk, where it changes.
    {
        std::vector<std::pair<uint32_t, uint32_t>> entries; // first chunk (1-based), samples per chunk
        for (size_t i = 0; i < chunks.size(); ++i) {
            uint64_t perChunk = chunks[i].count;
            if (plan.uncompressedSound) {
                perChunk = 0;
                for (size_t k = 0; k < chunks[i].count; ++k)
                    perChunk += samples[chunks[i].firstSample + k].size / plan.blockAlign;
            }
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(perChunk, UINT32_MAX));
            if (entries.empty() || entries.back().second != n) entries.emplace_back(static_cast<uint32_t>(i + 1), n);
        }
        out.openFull(type("stsc"), 0, 0);
        out.u32(static_cast<uint32_t>(entries.size()));
        for (const auto& [first, perChunk] : entries) {
            out.u32(first);
            out.u32(perChunk);
            out.u32(1);
        }
        out.close();
    }
    // stsz
    {
        out.openFull(type("stsz"), 0, 0);
        if (plan.uncompressedSound) {
            uint64_t frames = 0;
            for (const auto& s : samples) frames += s.size / plan.blockAlign;
            out.u32(plan.blockAlign);
            out.u32(static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX)));
        } else if (std::all_of(samples.begin(), samples.end(), [&](const auto& s) { return s.size == samples[0].size; })) {
            out.u32(samples[0].size);
            out.u32(static_cast<uint32_t>(samples.size()));
        } else {
            out.u32(0);
            out.u32(static_cast<uint32_t>(samples.size()));
            for (const auto& s : samples) out.u32(s.size);
        }
        out.close();
    }
    // stco, or co64 past 4 GB.
    {
        const bool wide = std::any_of(chunks.begin(), chunks.end(),
                                      [&](const auto& c) { return samples[c.firstSample].offset > UINT32_MAX; });
        out.openFull(wide ? type("co64") : type("stco"), 0, 0);
        out.u32(static_cast<uint32_t>(chunks.size()));
        for (const auto& c : chunks) {
            if (wide)
                out.u64(samples[c.firstSample].offset);
            else
                out.u32(static_cast<uint32_t>(samples[c.firstSample].offset));
        }
        out.close();
    }
    out.close();
}

void writeEditList(BoxWriter& out, const Plan& plan)
{
    const bool wide = plan.emptyEdit > UINT32_MAX || plan.shownDuration > UINT32_MAX;
    out.open(type("edts"));
    out.openFull(type("elst"), wide ? 1 : 0, 0);
    out.u32(plan.emptyEdit > 0 ? 2 : 1);
    auto entry = [&](uint64_t duration, int64_t mediaTime) {
        if (wide) {
            out.u64(duration);
            out.u64(static_cast<uint64_t>(mediaTime));
        } else {
            out.u32(static_cast<uint32_t>(duration));
            out.u32(static_cast<uint32_t>(mediaTime));
        }
        out.u32(0x00010000); // rate 1.0
    };
    if (plan.emptyEdit > 0) entry(plan.emptyEdit, -1);
    entry(plan.shownDuration, plan.priming);
    out.close();
    out.close();
}

// A handler reference as QuickTime writes them: the component type ('mhlr' for the
// media, 'dhlr' for its data), its subtype and a name.
void writeHandler(BoxWriter& out, uint32_t component, uint32_t subtype, const std::string& name)
{
    out.openFull(type("hdlr"), 0, 0);
    out.u32(component);
    out.u32(subtype);
    out.u32(0);
    out.u32(0);
    out.u32(0);
    out.u8(static_cast<uint8_t>(name.size())); // a counted string, as QuickTime has it
    out.bytes(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    out.close();
}

// The track's box again, written anew but for its sample description: headers with
// their durations, an edit list where one is needed, handlers, a data reference to
// this file, and the sample tables.
void writeTrack(BoxWriter& out, const Plan& plan)
{
    const auto& trak = plan.track->trak;
    const uint64_t trackDuration = plan.emptyEdit + plan.shownDuration;
    const bool video = plan.track->handler == type("vide");
    out.open(type("trak"));
    Box tkhd, mdhd;
    BoxCursor children(trak.data() + 8, trak.size() - 8);
    (void)children.find(type("tkhd"), tkhd);
    tkhd.offset += 8;
    rewriteHeader(out, trak.data(), tkhd, 2, trackDuration);
    if (plan.emptyEdit > 0 || plan.priming > 0) writeEditList(out, plan);
    out.open(type("mdia"));
    Box mdia;
    (void)children.find(type("mdia"), mdia);
    mdia.offset += 8;
    BoxCursor media(trak.data() + mdia.contentOffset(), static_cast<size_t>(mdia.contentSize()));
    (void)media.find(type("mdhd"), mdhd);
    mdhd.offset += mdia.contentOffset();
    rewriteHeader(out, trak.data(), mdhd, 1, plan.mediaDuration);
    writeHandler(out, type("mhlr"), plan.track->handler, video ? "VideoHandler" : "SoundHandler");
    out.open(type("minf"));
    if (video) {
        out.openFull(type("vmhd"), 0, 1);
        out.u16(0); // graphics mode: copy
        out.u16(0);
        out.u16(0);
        out.u16(0);
        out.close();
    } else {
        out.openFull(type("smhd"), 0, 0);
        out.u16(0); // balance
        out.u16(0);
        out.close();
    }
    writeHandler(out, type("dhlr"), type("url "), "DataHandler");
    out.open(type("dinf"));
    out.openFull(type("dref"), 0, 0);
    out.u32(1);
    out.openFull(type("url "), 0, 1); // the media are in this file
    out.close();
    out.close();
    out.close();
    writeSampleTables(out, plan);
    out.close(); // minf
    out.close(); // mdia
    out.close(); // trak
}

} // namespace

MovieIndex::Result MovieIndex::build(const FragmentedMovie& movie, const Options& options)
{
    Result result;
    std::vector<Plan> plans;
    for (const auto& track : movie.tracks) {
        const std::string name = track.handler == type("vide")   ? "the video track"
                                 : track.handler == type("soun") ? "the audio track"
                                                                 : "track " + std::to_string(track.id);
        if (std::find(options.leaveOut.begin(), options.leaveOut.end(), track.id) != options.leaveOut.end()) {
            result.notes.push_back(name + " (" + typeText(track.codec) + ") left out: a reader refuses its description");
            continue;
        }
        if (track.samples.empty()) {
            result.notes.push_back(name + " (" + typeText(track.codec) + ") has no complete sample: left out");
            continue;
        }
        if (!track.describable) {
            result.notes.push_back(name + " (" + typeText(track.codec) + ") left out: " + track.problem);
            continue;
        }
        Plan plan;
        plan.track = &track;
        plan.mediaDuration = track.end - track.start;
        if (track.handler == type("soun") && isUncompressedSound(track.codec)) {
            // One frame per sample: every chunk's size must be whole frames of one size.
            const auto& first = track.samples.front();
            const uint32_t align = first.duration > 0 ? first.size / first.duration : 0;
            const bool whole = align > 0 && std::all_of(track.samples.begin(), track.samples.end(), [&](const auto& s) {
                return s.duration > 0 && s.size == s.duration * align;
            });
            if (whole) {
                plan.uncompressedSound = true;
                plan.blockAlign = align;
            }
        }
        if (track.codec == type("mp4a") && movie.aacPriming > 0 &&
            static_cast<uint64_t>(movie.aacPriming) < plan.mediaDuration)
            plan.priming = movie.aacPriming;
        plan.emptyEdit = rescale(track.start, track.timescale, movie.movieTimescale);
        plan.shownDuration =
            rescale(plan.mediaDuration - static_cast<uint64_t>(plan.priming), track.timescale, movie.movieTimescale);
        plans.push_back(plan);
    }
    if (plans.empty()) return result;

    uint64_t movieDuration = 0;
    for (const auto& p : plans) movieDuration = std::max(movieDuration, p.emptyEdit + p.shownDuration);
    BoxWriter out;
    out.open(type("moov"));
    Box mvhd{type("mvhd"), 0, 8, movie.mvhd.size()};
    rewriteHeader(out, movie.mvhd.data(), mvhd, 1, movieDuration);
    for (const auto& p : plans) writeTrack(out, p);
    if (!movie.udta.empty() && options.metadata) out.bytes(movie.udta);
    out.close();
    result.bytes = std::move(out.result());
    result.tracks = plans.size();
    result.seconds = static_cast<double>(movieDuration) / movie.movieTimescale;
    return result;
}

} // namespace orva
