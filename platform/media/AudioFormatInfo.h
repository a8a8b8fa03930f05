// Completing an audio stream description from its format, sample rate and channels
// (the platform's format-information query). Any thread.
#pragma once

#include <orva/FormatDescription.h>

namespace orva {

class AudioFormatInfo {
public:
    // Fills the packet fields of an AAC ('aac ') or linear PCM description; answers
    // false (leaving it as it was) for another format or no channels or rate.
    static bool complete(AudioStreamBasicDescription& description);
};

} // namespace orva
