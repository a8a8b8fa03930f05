// List the maker's cameras and microphones, then follow them arriving and leaving.
//
//   orva-example-devices [SECONDS]     (0, the default: list and exit)
//
// Build against an installed Orva:
//   c++ -std=c++20 devices.cpp $(pkg-config --cflags --libs orva) -o orva-example-devices
#include <orva/NotificationCenter.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/RunLoop.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;

    // The device manager is a process-wide singleton: the first call starts the
    // capture library. Its lists hold device records, not open devices.
    auto manager = orva::OrvaDeviceManager::getSharedInstance();
    auto print = [](const char* title, const orva::OrvaDeviceManager::DeviceList& list) {
        std::printf("%s: %zu\n", title, list.size());
        for (const auto& record : list)
            std::printf("  %s  (%04x:%04x)  %s\n", record->nameText().c_str(), record->vendorID(), record->productID(),
                        record->path()->c_str());
    };
    print("Cameras", *manager->getVideoDeviceList());
    print("Microphones", *manager->getAudioDeviceList());

    // Arrivals and removals are notifications, posted on the capture library's own
    // thread; the record of the device is in the user information, under the
    // notification's name.
    auto& center = orva::NotificationCenter::defaultCenter();
    auto announce = [](const orva::Notification& notification) {
        auto record = std::any_cast<std::shared_ptr<orva::OrvaDeviceInfo>>(notification.userInfo.at(notification.name));
        const bool added = notification.name == orva::KPXDeviceAdded;
        std::printf("%s %s %s\n", added ? "arrived:" : "left:   ", record->deviceType() == 0 ? "camera" : "microphone",
                    record->nameText().c_str());
        std::fflush(stdout);
    };
    const auto arrivals = center.addObserver(orva::KPXDeviceAdded, announce);
    const auto removals = center.addObserver(orva::KPXDeviceRemoved, announce);

    // A GTK or Qt application already turns the main loop; this program turns it here.
    if (seconds > 0) orva::RunLoop::current().runUntilDate(seconds);

    // Stop listening before the manager goes; destroy() ends the capture library.
    center.removeObserver(arrivals);
    center.removeObserver(removals);
    manager.reset();
    orva::OrvaDeviceManager::destroy();
    return 0;
}
