// The microphones PipeWire offers: its Audio/Source nodes, each described from the
// node's properties (and its device's, where the node lacks them): USB vendor and
// product ID, serial number, bus path, product name, the formats it takes, and its
// channel volumes and mute. A node is listed when it is a USB device of the maker
// (or, when every vendor is wanted, whatever source it is); its path is the one rule
// by which the capture library's records and the level meter's devices name it.
// Arrivals and removals reach the listener; taps capture a node's sound for a meter.
//
// This is the PipeWire layer the capture library's microphones and the component's
// level meter share (Libraries/pipewire, a static library linked into both).
//
// Threads: every public member function is thread-safe and may wait for the daemon
// (two seconds at most); the registry's callbacks, the listener and the taps'
// callbacks run on the connection's loop thread.
#pragma once

#include "PipeWireConnection.h"

#include "zedederadIvo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pw_device_info;
struct pw_node_info;
struct pw_registry;
struct spa_dict;
struct spa_hook;
struct spa_pod;

namespace orva::pipewire {

// The cycle a capture stream asks of the graph: the desktop's usual quantum. The graph
// runs at the shortest cycle any stream asks for, so a recorder or a meter asking for
// less would make every application on the desktop wake more often (and miss its
// deadline sooner on a busy machine); the captures' rings absorb the longer cycle.
inline constexpr const char* kCaptureLatency = "1024/48000";

struct SourceInfo {
    uint32_t id = 0;          // the node's global id
    std::string nodeName;     // node.name: what a capture stream targets
    std::string name;         // the product name, else the node's description
    std::string mediaClass;
    uint16_t vendorID = 0, productID = 0;
    std::string serial;
    std::string bus;          // the USB device's bus path (1-4.2), as a camera's record has it
    bool usb = false;
    uint32_t channels = 0;    // the node's channel count (0: not known)
    std::vector<uint32_t> rates; // the rates the node takes (empty: any)
    bool listed = false;
    std::string reason;       // why it is not listed

    // "pipewire:<node.name>;usb=<bus>;serial=<serial>", the parts it has.
    std::string path() const;
    // The wave formats offered: 16-bit PCM at the node's rates and channel count,
    // and AAC at 48 kHz.
    std::vector<_ACI_WAVE_FORMAT> waveFormats() const;
};

// The USB device's bus path (1-4.2) in a sysfs path, empty when there is none.
std::string usbBusOfSysfsPath(const std::string& sysfsPath);

// Whether every vendor's sources are listed (ORVA_ALL_VENDORS).
bool allVendors();

class PipeWireSources {
public:
    // What the listener hears: a listed source arrived or left (never one that was
    // there at connect), or any node left (the daemon's going included).
    enum class Change { ListedArrived, ListedRemoved, NodeRemoved };
    using Listener = std::function<void(Change change, const std::string& nodeName)>;
    // Interleaved 16-bit frames of one buffer (about 10 ms); called once with no frames
    // (samples null) when the node is lost, and never after that.
    using TapCallback = void (*)(void* context, const int16_t* samples, uint32_t frames, uint32_t channels);

    // Connects and walks the registry once. Never null: without a daemon the list is
    // empty and status() says why.
    static std::shared_ptr<PipeWireSources> connect(Listener listener);
    ~PipeWireSources();
    PipeWireSources(const PipeWireSources&) = delete;
    PipeWireSources& operator=(const PipeWireSources&) = delete;

    std::vector<SourceInfo> listed() const;
    std::vector<SourceInfo> all() const;
    // The listed source whose path (or node name) is `path`.
    std::optional<SourceInfo> find(const std::string& path) const;
    // The listed source with this global id, if it is still there.
    std::optional<SourceInfo> byID(uint32_t id) const;
    // "connected to PipeWire", or why not.
    std::string status() const;
    std::shared_ptr<PipeWireConnection> connection() const { return mConnection; }

    // Volume 0-255 on a cubic scale of the node's channel volumes; mute. Each read
    // gives what the node reports; each write waits until the node reports it.
    int32_t volume(uint32_t id, uint32_t* volume);
    int32_t setVolume(uint32_t id, uint8_t volume);
    int32_t mute(uint32_t id, uint8_t* mute);
    int32_t setMute(uint32_t id, uint8_t mute);

    // A capture of the node's sound at 48 kHz in its channel count (at most 8), for a
    // meter; null when there is no such node. closeTap returns once no callback of the
    // tap runs (not from inside one). A tap must be closed before its sources go.
    void* openTap(const std::string& nodeName, TapCallback callback, void* context);
    void closeTap(void* tap);

private:
    struct Tap;
    struct Node;
    struct Device;
    PipeWireSources() = default;
    static void onGlobal(void* data, uint32_t id, uint32_t permissions, const char* type, uint32_t version,
                         const spa_dict* props);
    static void onGlobalRemove(void* data, uint32_t id);
    static void onNodeInfo(void* data, const pw_node_info* info);
    static void onNodeParam(void* data, int seq, uint32_t id, uint32_t index, uint32_t next, const spa_pod* param);
    static void onDeviceInfo(void* data, const pw_device_info* info);
    static void onTapProcess(void* data);
    static void onTapState(void* data, int old, int state, const char* error);
    void onLost();
    void nodeGone(const std::string& nodeName); // loop thread: its taps are lost
    SourceInfo describe(const Node& node) const;
    int32_t setProps(uint32_t id, const std::vector<float>* volumes, const bool* mute);

    std::shared_ptr<PipeWireConnection> mConnection;
    Listener mPost;
    std::string mStatus;
    pw_registry* mRegistry = nullptr;
    std::unique_ptr<spa_hook> mRegistryListener;
    std::map<uint32_t, std::unique_ptr<Node>> mNodes;
    std::map<uint32_t, std::unique_ptr<Device>> mDevices;
    bool mReady = false; // the first walk is done: later arrivals are announced
    std::vector<Tap*> mTaps; // under the loop's lock
};

} // namespace orva::pipewire
