#include "SimBus.h"

#include <orva/OrvaAVDevice.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>

#include <gtest/gtest.h>

using namespace orva;
using orvatest::SimBusTest;

namespace {

std::shared_ptr<OrvaDeviceInfo> record(const char* path, const char* name = "n", int32_t type = 0)
{
    auto info = std::make_shared<OrvaDeviceInfo>();
    if (path) info->setPath(path);
    info->setName(name);
    info->setDeviceType(type);
    return info;
}

// A device whose frames the test hands in, standing for the library's callback.
class FrameSource : public OrvaAVDevice {
public:
    explicit FrameSource(std::shared_ptr<OrvaDeviceInfo> info) : OrvaAVDevice(std::move(info)) {}
    int32_t openDevice() override { return 0; }
    void closeDevice() override {}
    int32_t startCapture() override { return 0; }
    int32_t stopCapture() override { return 0; }
    std::shared_ptr<const FormatDescription> getFormat() const override { return nullptr; }
    void setFormat(std::shared_ptr<const FormatDescription>) override {}
    std::shared_ptr<const FormatList> getSupportedFormats() override { return nullptr; }
    void deliver(const void* data, uint32_t length, int64_t ts) { deliverFrame(data, length, ts); }
};

class Recorder : public OrvaAVDeviceDelegate {
public:
    explicit Recorder(bool responds = true) : mResponds(responds) {}
    bool respondsTo(DelegateOperation op) const override
    {
        return op == DelegateOperation::didCaptureFrame && mResponds;
    }
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>& device) override
    {
        frames.push_back({frame, length, timestamp, device});
    }
    struct Frame {
        const void* data;
        uint32_t length;
        int64_t timestamp;
        std::shared_ptr<OrvaDeviceInfo> device;
    };
    std::vector<Frame> frames;

private:
    bool mResponds;
};

} // namespace

TEST(OrvaDeviceInfo, EqualityIsThePathAlone)
{
    auto a = record("usb-1/video", "Front");
    auto b = record("usb-1/video", "Other name");
    b->setProductID(7);
    auto c = record("usb-2/video", "Front");
    auto d = record("USB-1/video", "Front");
    auto noPath = record(nullptr);
    EXPECT_TRUE(a->isEqualToDevice(*b));
    EXPECT_FALSE(a->isEqualToDevice(*c));
    EXPECT_FALSE(a->isEqualToDevice(*d)) << "case matters";
    EXPECT_FALSE(noPath->isEqualToDevice(*noPath));
    EXPECT_FALSE(a->isEqualToDevice(*noPath));
}

TEST(OrvaAVDevice, DelegatesAreCalledInOrderOncePerEntry)
{
    auto info = record("p");
    FrameSource device(info);
    auto twice = std::make_shared<Recorder>();
    auto silent = std::make_shared<Recorder>(false);
    auto last = std::make_shared<Recorder>();
    device.addDelegate(nullptr);
    device.addDelegate(twice);
    device.addDelegate(silent);
    device.addDelegate(twice);
    device.addDelegate(last);
    ASSERT_EQ(device.delegates().size(), 4u);

    const char bytes[] = "frame";
    device.deliver(bytes, 5, 1234);
    ASSERT_EQ(twice->frames.size(), 2u);
    EXPECT_EQ(twice->frames[0].data, bytes) << "the producer's bytes, not a copy";
    EXPECT_EQ(twice->frames[0].length, 5u);
    EXPECT_EQ(twice->frames[0].timestamp, 1234);
    EXPECT_EQ(twice->frames[0].device, info);
    EXPECT_TRUE(silent->frames.empty()) << "a delegate that does not answer is skipped";
    EXPECT_EQ(last->frames.size(), 1u);

    device.removeDelegate(twice);
    device.removeDelegate(nullptr);
    ASSERT_EQ(device.delegates().size(), 2u);
    device.deliver(bytes, 5, 1235);
    EXPECT_EQ(twice->frames.size(), 2u);
    EXPECT_EQ(last->frames.size(), 2u);
}

class DeviceLifetime : public SimBusTest {};

TEST_F(DeviceLifetime, DestructionLogsNameAndRecordReferences)
{
    auto info = record("p", "Front Camera");
    {
        FrameSource device(info);
        device.addDelegate(std::make_shared<Recorder>());
    }
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    // The test's reference and the device's own.
    EXPECT_EQ(lines[0], "Dealloc AVDevice Front Camera Count:2");
    EXPECT_EQ(info.use_count(), 1);
}
