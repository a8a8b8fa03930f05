#include "CapturedFrames.h"

#include "Libraries/zedederadIvo/include/zedederadIvoSim.h"
#include "SimulatedBus.h"
#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"

#include <condition_variable>
#include <mutex>

using namespace orva;

namespace orvabench {

namespace {
struct Keeper : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void* frame, uint32_t length, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        std::lock_guard lock(mutex);
        if (frames.size() >= 30) return;
        const auto* b = static_cast<const uint8_t*>(frame);
        frames.emplace_back(b, b + length);
        done.notify_all();
    }
    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::vector<uint8_t>> frames;
};
} // namespace

const std::vector<std::vector<uint8_t>>& capturedH264Frames()
{
    static const std::vector<std::vector<uint8_t>> frames = [] {
        SystemLog::setEchoToStandardError(false);
        orvabench::resetSimulatedBus();
        auto manager = OrvaDeviceManager::getSharedInstance();
        auto camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
        auto keeper = std::make_shared<Keeper>();
        std::vector<std::vector<uint8_t>> out;
        if (camera && camera->openDevice() == 0) {
            camera->setFormat(VideoFormatDescription::create(kCodecAVC1, 1920, 1080));
            camera->addDelegate(keeper);
            if (camera->startCapture() == 0) {
                std::unique_lock lock(keeper->mutex);
                keeper->done.wait_for(lock, std::chrono::seconds(10), [&] { return keeper->frames.size() >= 30; });
                out = keeper->frames;
            }
            (void)camera->stopCapture();
            camera->closeDevice();
        }
        camera.reset();
        OrvaDeviceManager::destroy();
        orvabench::resetSimulatedBus();
        return out;
    }();
    return frames;
}

} // namespace orvabench
