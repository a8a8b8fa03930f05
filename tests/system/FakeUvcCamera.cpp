#include "FakeUvcCamera.h"

#include <linux/uvcvideo.h>
#include <linux/usb/video.h>

#include <algorithm>
#include <map>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

namespace orvatest {

namespace {

int fail(int error)
{
    errno = error;
    return -1;
}
constexpr off_t kBufferOffsetStep = 0x100000; // the mmap offset of buffer i is i * step
}

FakeUvcCamera::FakeUvcCamera()
{
    mOps.context = this;
    mOps.open = &onOpen;
    mOps.close = &onClose;
    mOps.ioctl = &onIoctl;
    mOps.mmap = &onMmap;
    mOps.munmap = &onMunmap;
    mOps.poll = &onPoll;
    ZISys_SetDeviceFileOps(&mOps);
}

FakeUvcCamera::~FakeUvcCamera()
{
    ZISys_SetDeviceFileOps(nullptr);
    std::lock_guard lock(mMutex);
    for (auto& [fd, node] : mFiles) ::close(fd);
}

void FakeUvcCamera::addNode(const std::string& node, uint32_t capabilities)
{
    std::lock_guard lock(mMutex);
    mNodes[node].capabilities = capabilities;
}

void FakeUvcCamera::addFormat(const std::string& node, Format format)
{
    std::lock_guard lock(mMutex);
    mNodes[node].formats.push_back(std::move(format));
}

void FakeUvcCamera::setControl(const std::string& node, uint32_t id, Control control)
{
    std::lock_guard lock(mMutex);
    mNodes[node].controls[id] = std::move(control);
}

void FakeUvcCamera::setUnitControl(const std::string& node, uint8_t unit, uint8_t selector, UnitControl control)
{
    std::lock_guard lock(mMutex);
    mNodes[node].units[{unit, selector}] = std::move(control);
}

void FakeUvcCamera::failOpen(const std::string& node, int error)
{
    std::lock_guard lock(mMutex);
    mNodes[node].openError = error;
}

void FakeUvcCamera::failIoctl(unsigned long request, int error, int times)
{
    std::lock_guard lock(mMutex);
    mFailures[request] = {error, times};
}

int FakeUvcCamera::onOpen(void* context, const char* path, int)
{
    auto* self = static_cast<FakeUvcCamera*>(context);
    std::lock_guard lock(self->mMutex);
    auto it = self->mNodes.find(path);
    if (it == self->mNodes.end()) {
        errno = ENOENT;
        return -1;
    }
    if (it->second.openError) {
        errno = it->second.openError;
        return -1;
    }
    // A real descriptor, so that the backend's poll works: readable while a frame waits.
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
    self->mFiles[fd] = path;
    it->second.opens++;
    return fd;
}

int FakeUvcCamera::onClose(void* context, int fd)
{
    auto* self = static_cast<FakeUvcCamera*>(context);
    std::lock_guard lock(self->mMutex);
    self->mFiles.erase(fd);
    return ::close(fd);
}

int FakeUvcCamera::onPoll(void*, struct pollfd* fds, nfds_t count, int timeout)
{
    return ::poll(fds, count, timeout);
}

void* FakeUvcCamera::onMmap(void* context, void*, size_t length, int, int, int fd, off_t offset)
{
    auto* self = static_cast<FakeUvcCamera*>(context);
    std::lock_guard lock(self->mMutex);
    auto file = self->mFiles.find(fd);
    if (file == self->mFiles.end()) {
        errno = EBADF;
        return MAP_FAILED;
    }
    Node& node = self->mNodes[file->second];
    const size_t index = static_cast<size_t>(offset / kBufferOffsetStep);
    if (index >= node.buffers.size() || length > node.buffers[index].memory.size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return node.buffers[index].memory.data();
}

int FakeUvcCamera::onMunmap(void*, void*, size_t)
{
    return 0;
}

int FakeUvcCamera::onIoctl(void* context, int fd, unsigned long request, void* argument)
{
    auto* self = static_cast<FakeUvcCamera*>(context);
    std::lock_guard lock(self->mMutex);
    if (auto failure = self->mFailures.find(request); failure != self->mFailures.end()) {
        const int error = failure->second.error;
        if (--failure->second.times <= 0) self->mFailures.erase(failure);
        errno = error;
        return -1;
    }
    auto file = self->mFiles.find(fd);
    if (file == self->mFiles.end()) {
        errno = EBADF;
        return -1;
    }
    return self->ioctl(self->mNodes[file->second], fd, request, argument);
}

// One handler per request, as the driver answers it.
int FakeUvcCamera::ioctl(Node& node, int fd, unsigned long request, void* argument)
{
    using Handler = int (FakeUvcCamera::*)(Node&, int, unsigned long, void*);
    static const std::map<unsigned long, Handler> handlers = {
        {VIDIOC_QUERYCAP, &FakeUvcCamera::queryCapabilities},
        {VIDIOC_ENUM_FMT, &FakeUvcCamera::enumerateFormats},
        {VIDIOC_ENUM_FRAMESIZES, &FakeUvcCamera::enumerateSizes},
        {VIDIOC_ENUM_FRAMEINTERVALS, &FakeUvcCamera::enumerateIntervals},
        {VIDIOC_S_FMT, &FakeUvcCamera::setFormat},
        {VIDIOC_S_PARM, &FakeUvcCamera::setParameters},
        {VIDIOC_REQBUFS, &FakeUvcCamera::requestBuffers},
        {VIDIOC_QUERYBUF, &FakeUvcCamera::queryBuffer},
        {VIDIOC_QBUF, &FakeUvcCamera::queueBuffer},
        {VIDIOC_DQBUF, &FakeUvcCamera::dequeueBuffer},
        {VIDIOC_QUERY_EXT_CTRL, &FakeUvcCamera::queryControl},
        {VIDIOC_QUERYMENU, &FakeUvcCamera::queryMenu},
        {UVCIOC_CTRL_QUERY, &FakeUvcCamera::unitControl},
        {VIDIOC_G_EXT_CTRLS, &FakeUvcCamera::extendedControls},
        {VIDIOC_S_EXT_CTRLS, &FakeUvcCamera::extendedControls},
        {VIDIOC_STREAMON, &FakeUvcCamera::stream},
        {VIDIOC_STREAMOFF, &FakeUvcCamera::stream},
    };
    const auto handler = handlers.find(request);
    return handler == handlers.end() ? fail(ENOTTY) : (this->*handler->second)(node, fd, request, argument);
}

int FakeUvcCamera::stream(Node& node, int, unsigned long request, void*)
{
    node.streaming = request == VIDIOC_STREAMON;
    if (node.streaming) {
        mChanged.notify_all();
    } else {
        node.queued.clear();
        node.filled.clear();
    }
    return 0;
}

int FakeUvcCamera::queryCapabilities(Node& node, int, unsigned long, void* argument)
{
    auto* caps = static_cast<v4l2_capability*>(argument);
    *caps = {};
    std::strcpy(reinterpret_cast<char*>(caps->driver), "uvcvideo");
    caps->capabilities = node.capabilities | V4L2_CAP_DEVICE_CAPS;
    caps->device_caps = node.capabilities;
    return 0;
}

int FakeUvcCamera::enumerateFormats(Node& node, int, unsigned long, void* argument)
{
    auto* description = static_cast<v4l2_fmtdesc*>(argument);
    std::vector<uint32_t> codes;
    for (const auto& f : node.formats)
        if (std::find(codes.begin(), codes.end(), f.pixelFormat) == codes.end()) codes.push_back(f.pixelFormat);
    if (description->index >= codes.size()) return fail(EINVAL);
    description->pixelformat = codes[description->index];
    return 0;
}

int FakeUvcCamera::enumerateSizes(Node& node, int, unsigned long, void* argument)
{
    auto* size = static_cast<v4l2_frmsizeenum*>(argument);
    uint32_t index = 0;
    for (const auto& f : node.formats)
        if (f.pixelFormat == size->pixel_format && index++ == size->index) {
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete = {f.width, f.height};
            return 0;
        }
    return fail(EINVAL);
}

int FakeUvcCamera::enumerateIntervals(Node& node, int, unsigned long, void* argument)
{
    auto* interval = static_cast<v4l2_frmivalenum*>(argument);
    for (const auto& f : node.formats)
        if (f.pixelFormat == interval->pixel_format && f.width == interval->width && f.height == interval->height) {
            if (interval->index >= f.intervals.size()) return fail(EINVAL);
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = f.intervals[interval->index];
            return 0;
        }
    return fail(EINVAL);
}

int FakeUvcCamera::setFormat(Node& node, int, unsigned long, void* argument)
{
    auto* format = static_cast<v4l2_format*>(argument);
    const auto& pix = format->fmt.pix;
    const bool offered = std::any_of(node.formats.begin(), node.formats.end(), [&](const Format& f) {
        return f.pixelFormat == pix.pixelformat && f.width == pix.width && f.height == pix.height;
    });
    if (!offered) return fail(EINVAL);
    node.format = pix;
    const bool packed = pix.pixelformat == V4L2_PIX_FMT_YUYV || pix.pixelformat == V4L2_PIX_FMT_UYVY;
    node.format.bytesperline = packed ? pix.width * 2 : 0;
    node.format.sizeimage = pix.width * pix.height * 2;
    format->fmt.pix = node.format;
    return 0;
}

int FakeUvcCamera::setParameters(Node& node, int, unsigned long, void* argument)
{
    auto* parameters = static_cast<v4l2_streamparm*>(argument);
    node.interval = parameters->parm.capture.timeperframe;
    return 0;
}

int FakeUvcCamera::requestBuffers(Node& node, int, unsigned long, void* argument)
{
    auto* request = static_cast<v4l2_requestbuffers*>(argument);
    if (node.streaming) return fail(EBUSY);
    node.buffers.clear();
    node.queued.clear();
    node.filled.clear();
    for (uint32_t i = 0; i < request->count; ++i) {
        Buffer buffer;
        buffer.memory.assign(node.format.sizeimage + 4096, 0);
        buffer.state.index = i;
        buffer.state.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.state.memory = V4L2_MEMORY_MMAP;
        buffer.state.length = static_cast<uint32_t>(buffer.memory.size());
        buffer.state.m.offset = static_cast<uint32_t>(i * kBufferOffsetStep);
        node.buffers.push_back(std::move(buffer));
    }
    return 0;
}

int FakeUvcCamera::queryBuffer(Node& node, int, unsigned long, void* argument)
{
    auto* buffer = static_cast<v4l2_buffer*>(argument);
    if (buffer->index >= node.buffers.size()) return fail(EINVAL);
    *buffer = node.buffers[buffer->index].state;
    return 0;
}

int FakeUvcCamera::queueBuffer(Node& node, int, unsigned long, void* argument)
{
    auto* buffer = static_cast<v4l2_buffer*>(argument);
    if (buffer->index >= node.buffers.size()) return fail(EINVAL);
    node.queued.push_back(buffer->index);
    mChanged.notify_all();
    return 0;
}

int FakeUvcCamera::dequeueBuffer(Node& node, int fd, unsigned long, void* argument)
{
    auto* buffer = static_cast<v4l2_buffer*>(argument);
    if (node.filled.empty()) return fail(EAGAIN);
    uint64_t one;
    (void)::read(fd, &one, sizeof one);
    *buffer = node.buffers[node.filled.front()].state;
    node.filled.pop_front();
    return 0;
}

int FakeUvcCamera::queryControl(Node& node, int, unsigned long, void* argument)
{
    auto* query = static_cast<v4l2_query_ext_ctrl*>(argument);
    auto it = node.controls.find(query->id);
    if (it == node.controls.end()) return fail(EINVAL);
    query->type = it->second.type;
    query->minimum = it->second.minimum;
    query->maximum = it->second.maximum;
    query->step = static_cast<uint64_t>(it->second.step);
    query->default_value = it->second.defaultValue;
    return 0;
}

int FakeUvcCamera::queryMenu(Node& node, int, unsigned long, void* argument)
{
    auto* item = static_cast<v4l2_querymenu*>(argument);
    auto it = node.controls.find(item->id);
    if (it == node.controls.end()) return fail(EINVAL);
    const auto& indices = it->second.menuIndices;
    if (std::find(indices.begin(), indices.end(), item->index) == indices.end()) return fail(EINVAL);
    std::snprintf(reinterpret_cast<char*>(item->name), sizeof item->name, "Item %u", item->index);
    return 0;
}

int FakeUvcCamera::unitControl(Node& node, int, unsigned long, void* argument)
{
    auto* query = static_cast<uvc_xu_control_query*>(argument);
    auto it = node.units.find({query->unit, query->selector});
    if (it == node.units.end()) return fail(ENOENT);
    UnitControl& control = it->second;
    const std::vector<uint8_t>* source = nullptr;
    switch (query->query) {
    case UVC_GET_LEN:
        if (query->size != 2) return fail(EINVAL);
        query->data[0] = static_cast<uint8_t>(control.current.size());
        query->data[1] = static_cast<uint8_t>(control.current.size() >> 8);
        return 0;
    case UVC_GET_CUR: source = &control.current; break;
    case UVC_GET_MIN: source = &control.minimum; break;
    case UVC_GET_MAX: source = &control.maximum; break;
    case UVC_GET_DEF: source = &control.defaultValue; break;
    case UVC_SET_CUR:
        if (query->size != control.current.size()) return fail(EINVAL);
        std::memcpy(control.current.data(), query->data, query->size);
        return 0;
    default:
        return fail(EINVAL);
    }
    if (source->empty()) return fail(EIO); // a request this control does not answer
    if (query->size != source->size()) return fail(EINVAL);
    std::memcpy(query->data, source->data(), source->size());
    return 0;
}

int FakeUvcCamera::extendedControls(Node& node, int, unsigned long request, void* argument)
{
    auto* list = static_cast<v4l2_ext_controls*>(argument);
    for (uint32_t i = 0; i < list->count; ++i)
        if (!node.controls.count(list->controls[i].id)) return fail(EINVAL);
    for (uint32_t i = 0; i < list->count; ++i) {
        auto& control = node.controls[list->controls[i].id];
        if (request == VIDIOC_G_EXT_CTRLS) {
            list->controls[i].value = control.current;
        } else {
            if (list->controls[i].value < control.minimum || list->controls[i].value > control.maximum)
                return fail(ERANGE);
            control.current = list->controls[i].value;
        }
    }
    if (request == VIDIOC_S_EXT_CTRLS) node.extendedSets.push_back(list->count);
    return 0;
}

bool FakeUvcCamera::pushFrame(const std::string& path, const std::vector<uint8_t>& bytes, int64_t timestamp, bool error)
{
    std::lock_guard lock(mMutex);
    return push(mNodes[path], path, &bytes, static_cast<uint32_t>(bytes.size()), timestamp, error);
}

bool FakeUvcCamera::pushPrefilled(const std::string& path, uint32_t length, int64_t timestamp)
{
    std::lock_guard lock(mMutex);
    return push(mNodes[path], path, nullptr, length, timestamp, false);
}

void FakeUvcCamera::prefill(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(mMutex);
    for (auto& buffer : mNodes[path].buffers)
        std::memcpy(buffer.memory.data(), bytes.data(), std::min(bytes.size(), buffer.memory.size()));
}

bool FakeUvcCamera::push(Node& node, const std::string& path, const std::vector<uint8_t>* bytes, uint32_t length,
                         int64_t timestamp, bool error)
{
    if (!node.streaming || node.queued.empty()) return false;
    const uint32_t index = node.queued.front();
    node.queued.pop_front();
    Buffer& buffer = node.buffers[index];
    const size_t n = std::min<size_t>(length, buffer.memory.size());
    if (bytes) std::memcpy(buffer.memory.data(), bytes->data(), n);
    buffer.state.bytesused = static_cast<uint32_t>(n);
    buffer.state.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | (error ? V4L2_BUF_FLAG_ERROR : 0);
    buffer.state.timestamp.tv_sec = timestamp / 1000000;
    buffer.state.timestamp.tv_usec = timestamp % 1000000;
    node.filled.push_back(index);
    // Readable on every descriptor of the node (the streaming one is among them).
    const uint64_t one = 1;
    for (auto& [fd, name] : mFiles)
        if (name == path) (void)::write(fd, &one, sizeof one);
    return true;
}

bool FakeUvcCamera::waitStreaming(const std::string& path, size_t buffers)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::seconds(60), [&] {
        auto& node = mNodes[path];
        return node.streaming && node.queued.size() >= buffers;
    });
}

bool FakeUvcCamera::streaming(const std::string& path)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].streaming;
}

v4l2_pix_format FakeUvcCamera::lastFormat(const std::string& path)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].format;
}

v4l2_fract FakeUvcCamera::lastInterval(const std::string& path)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].interval;
}

int32_t FakeUvcCamera::controlValue(const std::string& path, uint32_t id)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].controls[id].current;
}

std::vector<uint8_t> FakeUvcCamera::unitValue(const std::string& path, uint8_t unit, uint8_t selector)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].units[{unit, selector}].current;
}

std::vector<uint32_t> FakeUvcCamera::extendedSets(const std::string& path)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].extendedSets;
}

int FakeUvcCamera::opens(const std::string& path)
{
    std::lock_guard lock(mMutex);
    return mNodes[path].opens;
}

int FakeUvcCamera::openFiles()
{
    std::lock_guard lock(mMutex);
    return static_cast<int>(mFiles.size());
}

} // namespace orvatest
