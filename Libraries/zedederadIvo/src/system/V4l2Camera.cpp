// Opening a camera node and the format table: the node's formats, sizes and
// intervals (VIDIOC_ENUM_FMT, _FRAMESIZES, _FRAMEINTERVALS) offered as 'avc1' (H.264)
// and '2vuy' (UYVY as it is, YUYV swapped, MJPEG decoded).
#include "V4l2Camera.h"

#include "DeviceFile.h"
#include "PropertySets.h"
#include "Subscriptions.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zi::sys {

namespace {

struct SizeCandidate {
    uint32_t width, height;
};
constexpr SizeCandidate kStandardSizes[] = {{3840, 2160}, {2560, 1440}, {1920, 1080}, {1600, 1200}, {1280, 960},
                                            {1280, 720},  {1024, 768},  {960, 540},   {864, 480},   {800, 600},
                                            {640, 480},   {640, 360},   {424, 240},   {320, 240},   {320, 180},
                                            {160, 120}};
constexpr uint32_t kStandardRates[] = {60, 50, 30, 25, 24, 20, 15, 10, 5};

// The code a node format is offered as, and its rank among the formats giving it.
bool offeredAs(uint32_t pixelFormat, uint32_t& code, int& rank)
{
    switch (pixelFormat) {
    case V4L2_PIX_FMT_H264:
        code = kFourccAvc1;
        rank = 0;
        return true;
    case V4L2_PIX_FMT_UYVY:
        code = kFourcc2vuy;
        rank = 0;
        return true;
    case V4L2_PIX_FMT_YUYV:
        code = kFourcc2vuy;
        rank = 1;
        return true;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        code = kFourcc2vuy;
        rank = 2;
        return true;
    default:
        return false;
    }
}

V4l2Camera::Interval interval(uint32_t numerator, uint32_t denominator)
{
    V4l2Camera::Interval i;
    i.numerator = numerator;
    i.denominator = denominator;
    const uint64_t units = denominator ? (uint64_t{numerator} * 10000000u + denominator / 2) / denominator : 0;
    i.units = static_cast<uint32_t>(std::min<uint64_t>(units, UINT32_MAX));
    return i;
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::vector<uint8_t> bytes;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
        if (bytes.size() > (1u << 20)) break; // descriptors are a few kilobytes
    }
    return bytes;
}

} // namespace

std::shared_ptr<V4l2Camera> V4l2Camera::open(const CameraNode& node, Subscriptions& subscriptions)
{
    const int fd = devicefile::open(node.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    v4l2_capability caps{};
    const uint32_t own = devicefile::xioctl(fd, VIDIOC_QUERYCAP, &caps) == 0
                             ? ((caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities)
                             : 0;
    if (!(own & V4L2_CAP_VIDEO_CAPTURE) || !(own & V4L2_CAP_STREAMING)) {
        devicefile::close(fd);
        return nullptr;
    }
    std::shared_ptr<V4l2Camera> camera(new V4l2Camera(node, fd, subscriptions));
    camera->enumerateModes();
    camera->findControls();
    if (!node.usbSyspath.empty())
        camera->mUnits = parseExtensionUnits(readFile(node.usbSyspath + "/descriptors"), node.interfaceNumber);
    return camera;
}

V4l2Camera::V4l2Camera(CameraNode node, int fd, Subscriptions& subscriptions)
    : mNode(std::move(node)), mFd(fd), mSubscriptions(subscriptions), mWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

V4l2Camera::~V4l2Camera()
{
    (void)stopCapture();
    if (mFd >= 0) devicefile::close(mFd);
    if (mWakeFd >= 0) ::close(mWakeFd);
}

int32_t V4l2Camera::failure(int error) const
{
    if (mGone || error == ENODEV || error == ENXIO) return ZI_ERR_NO_DEVICE;
    if (error == EBUSY) return ZI_ERR_BUSY;
    if (error == EINVAL || error == ERANGE) return ZI_ERR_INVALID_ARG;
    return ZI_ERR_FAILED;
}

void V4l2Camera::enumerateModes()
{
    for (uint32_t f = 0; f < 64; ++f) {
        v4l2_fmtdesc description{};
        description.index = f;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (devicefile::xioctl(mFd, VIDIOC_ENUM_FMT, &description) != 0) break;
        Mode base;
        if (!offeredAs(description.pixelformat, base.code, base.rank)) continue;
        base.pixelFormat = description.pixelformat;

        std::vector<SizeCandidate> sizes;
        for (uint32_t s = 0; s < 256; ++s) {
            v4l2_frmsizeenum size{};
            size.index = s;
            size.pixel_format = description.pixelformat;
            if (devicefile::xioctl(mFd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.push_back({size.discrete.width, size.discrete.height});
                continue;
            }
            // A range: the common sizes inside it, and its largest.
            const auto& range = size.stepwise;
            auto fits = [&](uint32_t w, uint32_t h) {
                const uint32_t sw = range.step_width ? range.step_width : 1, sh = range.step_height ? range.step_height : 1;
                return w >= range.min_width && w <= range.max_width && h >= range.min_height && h <= range.max_height &&
                       (w - range.min_width) % sw == 0 && (h - range.min_height) % sh == 0;
            };
            sizes.push_back({range.max_width, range.max_height});
            for (const auto& candidate : kStandardSizes)
                if (fits(candidate.width, candidate.height) &&
                    !(candidate.width == range.max_width && candidate.height == range.max_height))
                    sizes.push_back(candidate);
            break;
        }
        for (const auto& size : sizes) {
            if (size.width == 0 || size.height == 0 || size.width % 2) continue; // 2vuy pairs pixels
            Mode mode = base;
            mode.width = size.width;
            mode.height = size.height;
            for (uint32_t i = 0; i < 64; ++i) {
                v4l2_frmivalenum frame{};
                frame.index = i;
                frame.pixel_format = description.pixelformat;
                frame.width = size.width;
                frame.height = size.height;
                if (devicefile::xioctl(mFd, VIDIOC_ENUM_FRAMEINTERVALS, &frame) != 0) break;
                if (frame.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
                    mode.intervals.push_back(interval(frame.discrete.numerator, frame.discrete.denominator));
                    continue;
                }
                const Interval shortest = interval(frame.stepwise.min.numerator, frame.stepwise.min.denominator);
                const Interval longest = interval(frame.stepwise.max.numerator, frame.stepwise.max.denominator);
                mode.intervals.push_back(shortest);
                for (uint32_t rate : kStandardRates) {
                    const Interval candidate = interval(1, rate);
                    if (candidate.units > shortest.units && candidate.units < longest.units)
                        mode.intervals.push_back(candidate);
                }
                mode.intervals.push_back(longest);
                break;
            }
            if (mode.intervals.empty()) mode.intervals.push_back(interval(1, 30)); // the node did not say
            mode.intervals.erase(std::remove_if(mode.intervals.begin(), mode.intervals.end(),
                                                [](const Interval& i) { return i.units == 0; }),
                                 mode.intervals.end());
            if (!mode.intervals.empty()) mModes.push_back(std::move(mode));
        }
    }
}

std::vector<uint32_t> V4l2Camera::codes() const
{
    std::vector<uint32_t> out;
    for (uint32_t code : {kFourccAvc1, kFourcc2vuy})
        if (std::any_of(mModes.begin(), mModes.end(), [&](const Mode& m) { return m.code == code; }))
            out.push_back(code);
    return out;
}

std::vector<_VCI_FRAME_SIZE> V4l2Camera::sizes(uint32_t code) const
{
    std::vector<_VCI_FRAME_SIZE> out;
    for (const auto& mode : mModes) {
        if (mode.code != code) continue;
        const bool seen = std::any_of(out.begin(), out.end(), [&](const _VCI_FRAME_SIZE& s) {
            return s.width == mode.width && s.height == mode.height;
        });
        if (!seen) out.push_back({mode.width, mode.height});
    }
    std::stable_sort(out.begin(), out.end(), [](const _VCI_FRAME_SIZE& a, const _VCI_FRAME_SIZE& b) {
        return uint64_t{a.width} * a.height > uint64_t{b.width} * b.height;
    });
    return out;
}

std::vector<uint32_t> V4l2Camera::intervals(uint32_t code, uint32_t width, uint32_t height) const
{
    std::vector<uint32_t> out;
    for (const auto& mode : mModes)
        if (mode.code == code && mode.width == width && mode.height == height)
            for (const auto& i : mode.intervals) out.push_back(i.units);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

int32_t V4l2Camera::setCaptureParameters(const _VCI_CAPTURE_PARAMETERS& p)
{
    if (mGone) return ZI_ERR_NO_DEVICE;
    if (p.frameInterval == 0 || p.intervalUnitsPerSecond == 0) {
        mChosen.reset();
        return ZI_ERR_INVALID_ARG;
    }
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) code = (code << 8) | (p.pixelFormat.fourcc[i] & 0xFF);
    const uint64_t wanted = uint64_t{p.frameInterval} * 10000000u / p.intervalUnitsPerSecond;
    std::optional<std::pair<size_t, size_t>> best;
    uint64_t bestDistance = UINT64_MAX;
    int bestRank = INT_MAX;
    for (size_t m = 0; m < mModes.size(); ++m) {
        const Mode& mode = mModes[m];
        if (mode.code != code || mode.width != p.width || mode.height != p.height) continue;
        for (size_t i = 0; i < mode.intervals.size(); ++i) {
            const uint64_t units = mode.intervals[i].units;
            const uint64_t distance = units > wanted ? units - wanted : wanted - units;
            if (distance < bestDistance || (distance == bestDistance && mode.rank < bestRank)) {
                best = std::make_pair(m, i);
                bestDistance = distance;
                bestRank = mode.rank;
            }
        }
    }
    mChosen = best; // a refused set leaves none, so a start cannot run on stale ones
    if (!best) return ZI_ERR_INVALID_ARG;
    return ZI_OK;
}

} // namespace zi::sys
