/// @file
/// The results a host can get from Orva's operations, named once.
///
/// Device operations (open, start, stop, set format) answer 0 or a small positive
/// code; the recorder answers 1 or 8 when it cannot open its movie; the movie creator
/// answers negative codes for what happens to the file. A getter that fails answers
/// null or false instead of a code.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>

namespace orva {

/// Success.
inline constexpr int32_t kOrvaOK = 0;
/// OrvaRecorder: no movie creator could be made.
inline constexpr int32_t kOrvaErrorNoMovieCreator = 1;
/// A device: no format was chosen, or the capture library refused the chosen one.
inline constexpr int32_t kOrvaErrorNoFormat = 2;
/// A device: the operation needs the device open.
inline constexpr int32_t kOrvaErrorNotOpen = 3;
/// OrvaAudioDevice::startCapture: the microphone is in use by another program.
inline constexpr int32_t kOrvaErrorMicrophoneBusy = 5;
/// OrvaVideoDevice::startCapture: the camera refused to start (in use by another program).
inline constexpr int32_t kOrvaErrorCameraBusy = 6;
/// A device: the capture library failed (no handle, the device is gone, …).
inline constexpr int32_t kOrvaErrorLibraryFailed = 7;
/// OrvaRecorder: the movie creator could not open the movie.
inline constexpr int32_t kOrvaErrorMovieOpenFailed = 8;
/// OrvaCameraShare: PipeWire is not running, or it refused the camera's video node.
inline constexpr int32_t kOrvaErrorNoPipeWire = 9;
/// Movie creator: a sample of a media type the movie has no track for.
inline constexpr int32_t kOrvaErrorUnsupportedMediaType = -197;
/// Movie creator: the movie file cannot be created (folder missing or not writable).
inline constexpr int32_t kOrvaErrorCannotCreateFile = -198;
/// Movie creator: the disk is full; the movie keeps what was written before.
inline constexpr int32_t kOrvaErrorDiskFull = -199;
/// Movie creator: any other failure of the movie writer.
inline constexpr int32_t kOrvaErrorWriterFailed = -200;

/// A short English description of a status ("no format chosen", "disk full", …);
/// "unknown status" for a code that is none of the above. Thread-safe.
ORVA_EXPORT const char* OrvaStatusDescription(int32_t status);

} // namespace orva
