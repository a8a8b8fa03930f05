#include "platform/writer/MovieFinisher.h"

#include "platform/writer/FragmentedMovie.h"
#include "platform/writer/MovieIndex.h"
#include "platform/writer/MovieIndexCheck.h"
#include "platform/writer/WriteSeam.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace orva {

namespace {

std::mutex& hookMutex()
{
    static std::mutex m;
    return m;
}
std::function<void(MovieFinisher::Step)>& hook()
{
    static std::function<void(MovieFinisher::Step)> h;
    return h;
}

void reach(MovieFinisher::Step step)
{
    std::function<void(MovieFinisher::Step)> h;
    {
        std::lock_guard lock(hookMutex());
        h = hook();
    }
    if (h) h(step);
    // A process under test stops itself here (its test then kills it): the same
    // moment a power loss could come.
    const char* stop = std::getenv("ORVA_TEST_STOP_WHILE_FINISHING");
    if (stop && std::atoi(stop) == static_cast<int>(step) + 1) ::raise(SIGSTOP);
}

// Writes at an offset through the writer's I/O seam; false with errno set.
bool writeAt(int fd, uint64_t offset, const void* data, size_t size, uint64_t& written)
{
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const long n = WriteSeam::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        written += static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace

void MovieFinisher::setStepHookForTesting(std::function<void(Step)> h)
{
    std::lock_guard lock(hookMutex());
    hook() = std::move(h);
}

MovieFinisher::Result MovieFinisher::finishInPlace(int fd)
{
    Result result;
    std::string error;
    auto movie = FragmentedMovie::read(fd, &error);
    if (!movie) {
        result.error = "not a movie Orva can finish: " + error;
        return result;
    }
    // What becomes free space: the fragments' descriptions, strays, and the first movie
    // box and its header (readers that find no movie look for one inside free space).
    std::vector<uint64_t> freed;
    for (const auto* boxes : {&movie->fragments, &movie->strays})
        for (uint64_t box : *boxes)
            if (box < movie->completeEnd) freed.push_back(box);
    if (movie->firstMoovFragmented) {
        freed.push_back(movie->firstMoovOffset);
        if (movie->firstMoovHeadedByMvhd) freed.push_back(movie->firstMoovOffset + 8);
    }
    auto freeDescriptions = [&]() {
        // The fragments' descriptions first, the first movie box last: stopped half
        // way, readers still take the file as the fragmented movie it was.
        static const char kFree[4] = {'f', 'r', 'e', 'e'};
        for (size_t i = 0; i < freed.size(); ++i) {
            if (!writeAt(fd, freed[i] + 4, kFree, 4, result.bytesWritten)) return false;
            if (i == 0) reach(Step::FreeingDescriptions);
        }
        return ::fdatasync(fd) == 0;
    };
    if (movie->finished) {
        result.alreadyFinished = true;
        if (!MovieIndexCheck::opens(fd, movie->completeEnd, freed, {})) {
            result.error = "its index is damaged: a reader refuses it";
            return result;
        }
        if (movie->completeEnd < movie->fileSize) { // whatever follows the index goes
            if (::ftruncate(fd, static_cast<off_t>(movie->completeEnd)) != 0) {
                result.error = std::string("cannot cut the damaged tail: ") + std::strerror(errno);
                return result;
            }
            result.cut = true;
        }
        if (!freeDescriptions()) {
            result.error = std::string("cannot write: ") + std::strerror(errno);
            return result;
        }
        result.ok = true;
        result.seconds = movie->indexSeconds;
        result.tracks = movie->indexTracks;
        return result;
    }
    // The index, checked with a reader before anything changes: without the metadata,
    // then without a track, when a reader refuses what the file describes.
    MovieIndex::Options options;
    auto index = MovieIndex::build(*movie, options);
    if (!index.bytes.empty() && !MovieIndexCheck::opens(fd, movie->completeEnd, freed, index.bytes)) {
        options.metadata = false;
        index = MovieIndex::build(*movie, options);
        for (size_t i = 0; i < movie->tracks.size() && !index.bytes.empty() &&
                           !MovieIndexCheck::opens(fd, movie->completeEnd, freed, index.bytes);
             ++i) {
            options.leaveOut = {movie->tracks[i].id};
            index = MovieIndex::build(*movie, options);
        }
        if (!index.bytes.empty() && !MovieIndexCheck::opens(fd, movie->completeEnd, freed, index.bytes)) {
            result.error = "a reader refuses what it describes";
            return result;
        }
    }
    result.notes = index.notes;
    if (index.bytes.empty()) {
        result.nothingComplete = movie->sampleCount() == 0;
        result.error = result.nothingComplete ? "no complete sample: nothing can be played"
                                              : "no track can be played: " + (index.notes.empty() ? "" : index.notes.front());
        return result;
    }
    // The partial tail goes (a fragment cut short, an index cut short).
    if (movie->completeEnd < movie->fileSize) {
        if (::ftruncate(fd, static_cast<off_t>(movie->completeEnd)) != 0) {
            result.error = std::string("cannot cut the damaged tail: ") + std::strerror(errno);
            return result;
        }
        result.cut = true;
    }
    if (!writeAt(fd, movie->completeEnd, index.bytes.data(), index.bytes.size(), result.bytesWritten) ||
        ::fdatasync(fd) != 0) {
        const int why = errno;
        (void)::ftruncate(fd, static_cast<off_t>(movie->completeEnd)); // a working movie again
        result.diskFull = why == ENOSPC || why == EDQUOT;
        result.error = result.diskFull ? "no room for the movie's index" : std::string("cannot write: ") + std::strerror(why);
        return result;
    }
    reach(Step::IndexWritten);
    if (!freeDescriptions()) {
        result.error = std::string("cannot write: ") + std::strerror(errno);
        return result;
    }
    result.ok = true;
    result.seconds = index.seconds;
    result.tracks = index.tracks;
    return result;
}

} // namespace orva
