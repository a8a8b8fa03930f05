#include <orva/OrvaStatus.h>

namespace orva {

const char* OrvaStatusDescription(int32_t status)
{
    switch (status) {
    case kOrvaOK: return "ok";
    case kOrvaErrorNoMovieCreator: return "no movie creator";
    case kOrvaErrorNoFormat: return "no format chosen, or the format was refused";
    case kOrvaErrorNotOpen: return "the device is not open";
    case kOrvaErrorMicrophoneBusy: return "the microphone is in use by another program";
    case kOrvaErrorCameraBusy: return "the camera is in use by another program";
    case kOrvaErrorLibraryFailed: return "the capture library failed";
    case kOrvaErrorMovieOpenFailed: return "the movie could not be opened";
    case kOrvaErrorNoPipeWire: return "PipeWire is not running or refused the camera";
    case kOrvaErrorUnsupportedMediaType: return "unsupported media type";
    case kOrvaErrorCannotCreateFile: return "the movie file cannot be created";
    case kOrvaErrorDiskFull: return "disk full";
    case kOrvaErrorWriterFailed: return "the movie writer failed";
    default: return "unknown status";
    }
}

} // namespace orva
