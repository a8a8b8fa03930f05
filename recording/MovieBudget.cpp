#include "recording/MovieBudget.h"

#include <orva/FormatDescription.h>

namespace orva {

uint64_t MovieBudget::bytesPerMinute(const _OrvaVideoDescription* video, const _OrvaAudioDescription* audio)
{
    double perSecond = 0;
    if (video && video->width > 0 && video->height > 0) {
        const double rate = video->frameInterval > 0 ? 1e7 / video->frameInterval : video->frameRate > 0 ? video->frameRate : 30;
        const double pixels = static_cast<double>(video->width) * video->height * rate;
        if (video->codec == kCodec2VUY) perSecond += pixels * 2;
        if (video->codec == kCodecAVC1) perSecond += pixels * 0.3 / 8; // 0.3 bits a pixel: a camera's best
    }
    if (audio && audio->sampleRate > 0 && audio->channels > 0) {
        if (audio->format == kAudioFormatLinearPCM)
            perSecond += static_cast<double>(audio->sampleRate) * audio->channels * (audio->bitsPerSample ? audio->bitsPerSample : 16) / 8;
        else if (audio->format == kAudioFormatMPEG4AAC)
            perSecond += 32000; // 256 kbit/s
    }
    return static_cast<uint64_t>(perSecond * 60 * 1.02); // and the boxes around it
}

} // namespace orva
