// Record the first camera and the first microphone into a QuickTime movie.
//
//   orva-example-record OUT.mov [SECONDS]     (5 seconds by default)
//
// Build against an installed Orva:
//   c++ -std=c++20 record.cpp $(pkg-config --cflags --libs orva) -o orva-example-record
#include <orva/FormatDescription.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>
#include <orva/RunLoop.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.mov [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    auto manager = orva::OrvaDeviceManager::getSharedInstance();
    auto cameras = manager->getVideoDeviceList();
    auto microphones = manager->getAudioDeviceList();
    if (cameras->empty() || microphones->empty()) {
        std::fprintf(stderr, "a camera and a microphone are needed\n");
        return 1;
    }

    // newDevice makes the device object for a record: a camera for type 0.
    auto camera = std::dynamic_pointer_cast<orva::OrvaVideoDevice>(orva::OrvaAVDevice::newDevice(cameras->front()));
    auto microphone =
        std::dynamic_pointer_cast<orva::OrvaAudioDevice>(orva::OrvaAVDevice::newDevice(microphones->front()));

    // Each device records in the format chosen for it: the camera's first listed
    // format (H.264 where it has one), the microphone's first.
    if (camera->openDevice() != orva::kOrvaOK || microphone->openDevice() != orva::kOrvaOK) {
        std::fprintf(stderr, "cannot open the devices\n");
        return 1;
    }
    camera->setFormat(camera->getSupportedFormats()->front());
    microphone->setFormat(microphone->getSupportedFormats()->front());

    // The session opens the movie in the temporary folder, becomes the devices'
    // delegate and starts them; frames reach it on the capture threads.
    auto session = orva::OrvaRecordSession::create(camera, microphone, argv[1]);
    const int32_t started = session->startSession();
    if (started != orva::kOrvaOK) {
        std::fprintf(stderr, "the recording did not start (status %d)\n", started);
        return 1;
    }
    std::printf("recording %.1f s to %s\n", seconds, argv[1]);
    orva::RunLoop::current().runUntilDate(seconds);

    // Stopping finishes the movie and moves it to the destination; it turns this
    // thread's run loop meanwhile, so call it on the thread that runs the loop.
    (void)session->stopSession();
    std::printf("done: %s (%llu samples dropped)\n", argv[1],
                static_cast<unsigned long long>(session->droppedSamples()));
    camera->closeDevice();
    microphone->closeDevice();
    orva::OrvaDeviceManager::destroy();
    return 0;
}
