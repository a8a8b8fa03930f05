// orva share [CAMERA] [--format 2vuy:1280x720] [--fps N] [--seconds S] [--json]
// The camera as a PipeWire camera for other applications until interrupted; the
// camera runs while one of them watches.
#include "Cli.h"
#include "Commands.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "JsonWriter.h"
#include "ShareReport.h"
#include "Terminal.h"

#include <orva/OrvaCameraShare.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>

#include <cstdio>

using namespace orva;

namespace cli {

int runShare(Invocation& invocation)
{
    const std::string formatText = invocation.value("format").value_or("2vuy:1280x720");
    const auto format = videoChoice(invocation, "format", "2vuy:1280x720");
    if (!format) return kExitUsage;
    const auto seconds = invocation.seconds("seconds", 1e9);
    if (!seconds) return kExitUsage;

    DeviceUse camera(openCamera(invocation, invocation.operand(0)));
    if (!camera) return kExitFailure;
    const auto chosen = chooseVideoFormat(invocation, *camera, *format);
    if (!chosen) return kExitFailure;
    camera->setFormat(chosen);
    auto share = OrvaCameraShare::create(camera.get());
    if (const int32_t started = share->startSharing(); started != kOrvaOK)
        return invocation.fail(kExitFailure, "cannot share %s: %s", camera->deviceInfo()->nameText().c_str(),
                               started == kOrvaErrorNoPipeWire ? share->failure().c_str() : OrvaStatusDescription(started));
    std::fprintf(err(), "Sharing %s (%s at %s fps) as PipeWire node %u \"%s\": applications see it as a camera. "
                        "Ctrl-C stops.\n",
                 camera->deviceInfo()->nameText().c_str(), formatText.c_str(),
                 rateText(camera->captureFrameInterval()).c_str(), share->nodeID(), share->nodeName().c_str());
    ShareReport report(invocation, *share);
    const bool wasInterrupted = runFor(*seconds, 0.1, [&](double) { report.tick(); }, [&] { return !share->isSharing(); });
    report.tick();
    const bool ended = !share->isSharing();
    const std::string why = share->failure();
    share->stopSharing();
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject()
            .field("device", camera->deviceInfo()->nameText())
            .field("node", static_cast<int64_t>(report.node()))
            .field("node_name", report.nodeName())
            .field("frames_shared", static_cast<int64_t>(share->framesShared()))
            .field("frames_dropped", static_cast<int64_t>(share->framesDropped()))
            .field("most_consumers", static_cast<int64_t>(report.mostConsumers()))
            .field("interrupted", wasInterrupted)
            .field("ended", ended)
            .endObject();
    } else {
        std::fprintf(out(), "Shared %llu frames with up to %u consumers; %llu dropped for consumers that did not keep up\n",
                     static_cast<unsigned long long>(share->framesShared()), report.mostConsumers(),
                     static_cast<unsigned long long>(share->framesDropped()));
    }
    if (ended) return invocation.fail(kExitFailure, "sharing ended: %s", why.c_str());
    return wasInterrupted ? kExitInterrupted : kExitOk;
}

} // namespace cli
