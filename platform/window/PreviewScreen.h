// What the preview window shows, drawn with OpenGL on the window's thread: the
// camera's live picture, or the camera status image with a label saying why there is
// none (the overlay's own drawing); a caption with the camera's name, size and
// measured rate; one level bar per microphone channel with its held peak; a red
// "REC mm:ss" while recording; the keys when asked; a passing notice.
#pragma once

#include "platform/window/VideoPicture.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orva {

class CameraStatusDisplay;
class GLString;

class PreviewScreen {
public:
    struct State {
        std::string caption;               // the camera's name, size and rate
        std::optional<std::string> status; // why there is no live picture
        std::vector<float> levels;         // dB full scale, one per channel
        std::vector<double> peaks;         // held peaks, one per channel
        bool muted = false;
        std::optional<double> recordingSeconds; // while recording
        bool help = false;
        std::vector<std::string> helpLines;
        std::string notice; // empty: none
    };

    // In the window's current context: the status image at `statusImagePath`.
    explicit PreviewScreen(const std::string& statusImagePath);
    ~PreviewScreen();
    PreviewScreen(const PreviewScreen&) = delete;
    PreviewScreen& operator=(const PreviewScreen&) = delete;

    // Whether the shaders compiled (else why not).
    bool ok() const { return mVideo.ok(); }
    const std::string& error() const { return mVideo.error(); }
    // Takes the newest camera picture.
    void upload(VideoPicture::Layout layout, const uint8_t* bytes, uint32_t width, uint32_t height);
    // Draws everything into a view of `width`x`height` pixels.
    void draw(int width, int height, const State& state);
    // The last uploaded picture alone, at its own size, as RGBA rows from the top;
    // empty without one.
    std::vector<uint8_t> pictureSnapshot(uint32_t* width, uint32_t* height);

private:
    // A label whose texture is rebuilt only when its text changes.
    struct Label;
    Label& label(size_t index);
    enum class Across { Left, Centre, Right };
    struct Place {
        Across across;
        double edge;  // pixels from the bottom (or the top)
        bool fromTop;
    };
    void drawLabel(size_t index, const std::string& text, Place place, int viewWidth, int viewHeight);
    void drawLevels(const State& state, int width);

    VideoPicture mVideo;
    std::unique_ptr<CameraStatusDisplay> mStatus;
    std::vector<std::unique_ptr<Label>> mLabels;
    uint32_t mPictureWidth = 0, mPictureHeight = 0;
};

} // namespace orva
