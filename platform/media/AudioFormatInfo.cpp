#include "platform/media/AudioFormatInfo.h"

namespace orva {

bool AudioFormatInfo::complete(AudioStreamBasicDescription& d)
{
    if (d.mSampleRate <= 0 || d.mChannelsPerFrame == 0) return false;
    if (d.mFormatID == kAudioFormatIDMPEG4AAC) {
        d.mFormatFlags = 0;      // AAC low complexity
        d.mBytesPerPacket = 0;   // variable
        d.mFramesPerPacket = 1024;
        d.mBytesPerFrame = 0;
        d.mBitsPerChannel = 0;
        return true;
    }
    if (d.mFormatID == kAudioFormatIDLinearPCM && d.mBitsPerChannel % 8 == 0 && d.mBitsPerChannel) {
        d.mBytesPerFrame = d.mChannelsPerFrame * d.mBitsPerChannel / 8;
        d.mBytesPerPacket = d.mBytesPerFrame;
        d.mFramesPerPacket = 1;
        return true;
    }
    return false;
}

} // namespace orva
