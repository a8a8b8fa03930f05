// A desktop window with an OpenGL context for `orva preview`: SDL2 on X11 or Wayland,
// the context made through EGL (so the overlay's GLContext sees it), compatibility
// profile as the overlay draws. The keys a person presses come back as actions.
// Main thread only: it is made, polled, drawn in and presented there.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orva {

class PreviewWindow {
public:
    // What a key (or the window's close button) asks for.
    enum class Action { PanLeft, PanRight, TiltUp, TiltDown, ZoomIn, ZoomOut, ResetHead, StartStop, Record,
                        Snapshot, Mute, Help, Quit };

    // A window of `width`x`height` titled `title`, its context current; null with
    // `error` saying why (no display, no OpenGL).
    static std::unique_ptr<PreviewWindow> open(const std::string& title, int width, int height, std::string* error);
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // The actions asked for since the last poll, in order; never waits.
    std::vector<Action> poll();
    // The drawable's size in pixels now.
    int width() const;
    int height() const;
    // Shows what was drawn.
    void present();
    // The video driver ("x11", "wayland") and the OpenGL renderer, for a person to read.
    std::string driver() const;

private:
    PreviewWindow() = default;
    struct State;
    std::unique_ptr<State> mState;
};

} // namespace orva
