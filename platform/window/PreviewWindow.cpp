#include "platform/window/PreviewWindow.h"

#include <SDL2/SDL.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <link.h>

#include <cstring>

namespace orva {

namespace {

// Keeps the OpenGL driver Mesa loaded for the window (its *_dri.so) for the rest of the
// process. SDL unloads it with the last window, and the driver's few bytes of
// process-long state would then be left with no owner (and, the module gone, no name
// in a leak report); another window would load it again anyway.
void keepDriverLoaded()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                (void)dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

} // namespace

struct PreviewWindow::State {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

std::unique_ptr<PreviewWindow> PreviewWindow::open(const std::string& title, int width, int height, std::string* error)
{
    // EGL on X11 too: the overlay remembers and restores contexts through EGL.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // Ctrl-C stays the command's
    // A desktop's display or none: never SDL's invisible offscreen or dummy drivers.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        if (error) *error = SDL_GetError();
        return nullptr;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    std::unique_ptr<PreviewWindow> window(new PreviewWindow);
    window->mState = std::make_unique<State>();
    auto& s = *window->mState;
    s.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
    if (s.window) s.context = SDL_GL_CreateContext(s.window);
    if (!s.window || !s.context) {
        if (error) *error = SDL_GetError();
        return nullptr; // the destructor lets what was made go
    }
    SDL_GL_SetSwapInterval(0); // the camera paces the pictures, not the display
    keepDriverLoaded();
    return window;
}

PreviewWindow::~PreviewWindow()
{
    if (!mState) return;
    if (mState->context) SDL_GL_DeleteContext(mState->context);
    if (mState->window) SDL_DestroyWindow(mState->window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

std::vector<PreviewWindow::Action> PreviewWindow::poll()
{
    std::vector<Action> actions;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) actions.push_back(Action::Quit);
        if (event.type != SDL_KEYDOWN) continue;
        const bool shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
        switch (event.key.keysym.sym) {
        case SDLK_LEFT: actions.push_back(Action::PanLeft); break;
        case SDLK_RIGHT: actions.push_back(Action::PanRight); break;
        case SDLK_UP: actions.push_back(Action::TiltUp); break;
        case SDLK_DOWN: actions.push_back(Action::TiltDown); break;
        case SDLK_PLUS: case SDLK_EQUALS: case SDLK_KP_PLUS: actions.push_back(Action::ZoomIn); break;
        case SDLK_MINUS: case SDLK_KP_MINUS: actions.push_back(Action::ZoomOut); break;
        case SDLK_0: case SDLK_KP_0: actions.push_back(Action::ResetHead); break;
        case SDLK_SPACE: actions.push_back(Action::StartStop); break;
        case SDLK_r: actions.push_back(Action::Record); break;
        case SDLK_s: actions.push_back(Action::Snapshot); break;
        case SDLK_m: actions.push_back(Action::Mute); break;
        case SDLK_QUESTION: case SDLK_h: actions.push_back(Action::Help); break;
        case SDLK_SLASH: if (shift) actions.push_back(Action::Help); break;
        case SDLK_q: case SDLK_ESCAPE: actions.push_back(Action::Quit); break;
        default: break;
        }
    }
    return actions;
}

int PreviewWindow::width() const
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(mState->window, &w, &h);
    return w;
}

int PreviewWindow::height() const
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(mState->window, &w, &h);
    return h;
}

void PreviewWindow::present()
{
    SDL_GL_SwapWindow(mState->window);
}

std::string PreviewWindow::driver() const
{
    const char* video = SDL_GetCurrentVideoDriver();
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return std::string(video ? video : "?") + ", " + (renderer ? renderer : "?");
}

} // namespace orva
