#include "platform/window/PreviewScreen.h"
#include "platform/graphics/HeadlessGLContext.h"

#include <orva/CameraStatusDisplay.h>
#include <orva/GLString.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>

namespace orva {

namespace {

enum LabelSlot : size_t { kCaption, kStatus, kRecording, kMuted, kNotice, kHelp };

constexpr double kMargin = 12, kBarWidth = 220, kBarHeight = 10, kFloorDb = -60;

Color boxOf(LabelSlot slot)
{
    return slot == kRecording ? Color{0.85, 0.1, 0.1, 0.9} : Color{0.05, 0.05, 0.05, 0.7};
}

void fill(double x, double y, double w, double h, float r, float g, float b, float a = 1)
{
    glColor4f(r, g, b, a);
    glRectd(x, y, x + w, y + h);
}

} // namespace

struct PreviewScreen::Label {
    std::string text;
    std::unique_ptr<GLString> string;
};

PreviewScreen::PreviewScreen(const std::string& statusImagePath)
    : mStatus(std::make_unique<CameraStatusDisplay>(statusImagePath))
{
}

PreviewScreen::~PreviewScreen()
{
    mLabels.clear(); // their textures, in this context
    mStatus->cleanup();
}

void PreviewScreen::upload(VideoPicture::Layout layout, const uint8_t* bytes, uint32_t width, uint32_t height)
{
    mVideo.upload(layout, bytes, width, height);
    mPictureWidth = width;
    mPictureHeight = height;
}

PreviewScreen::Label& PreviewScreen::label(size_t index)
{
    while (mLabels.size() <= index) mLabels.push_back(std::make_unique<Label>());
    return *mLabels[index];
}

// A label placed across the view as `place` says, `place.edge` pixels from its bottom or top.
void PreviewScreen::drawLabel(size_t index, const std::string& text, Place place, int viewWidth, int viewHeight)
{
    auto& l = label(index);
    if (!l.string || l.text != text) {
        TextAttributes attributes;
        attributes.fontSize = index == kHelp ? 13 : 15;
        attributes.bold = index == kRecording;
        const Color box = boxOf(static_cast<LabelSlot>(index));
        if (!l.string) l.string = std::make_unique<GLString>(text, attributes, Color{1, 1, 1, 1}, box, Color{0, 0, 0, 0});
        else l.string->setString(text, attributes);
        l.string->setMargins({8, 5});
        l.text = text;
        l.string->genTexture();
    }
    const Size size = l.string->texSize();
    const double left = place.across == Across::Left    ? kMargin
                        : place.across == Across::Right ? viewWidth - kMargin - size.width
                                                        : (viewWidth - size.width) / 2;
    const double bottom = place.fromTop ? viewHeight - place.edge - size.height : place.edge;
    l.string->drawWithBounds({{left, bottom}, size});
}

void PreviewScreen::drawLevels(const State& state, int width)
{
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const double barWidth = std::min(kBarWidth, width - 2 * kMargin);
    for (size_t i = 0; i < state.levels.size(); ++i) {
        // Channel 1 on top.
        const double y = kMargin + (state.levels.size() - 1 - i) * (kBarHeight + 4);
        auto fraction = [](double db) { return (std::clamp(db, kFloorDb, 0.0) - kFloorDb) / -kFloorDb; };
        fill(kMargin - 2, y - 2, barWidth + 4, kBarHeight + 4, 0, 0, 0, 0.6f);
        const double level = fraction(state.levels[i]) * barWidth;
        const bool loud = state.levels[i] > -6;
        if (state.muted) fill(kMargin, y, level, kBarHeight, 0.5f, 0.5f, 0.5f);
        else fill(kMargin, y, level, kBarHeight, loud ? 0.95f : 0.2f, loud ? 0.3f : 0.85f, 0.2f);
        if (i < state.peaks.size() && state.peaks[i] > kFloorDb)
            fill(kMargin + fraction(state.peaks[i]) * barWidth - 2, y, 2, kBarHeight, 1, 1, 1);
    }
    glPopAttrib();
    glColor4f(1, 1, 1, 1);
}

void PreviewScreen::draw(int width, int height, const State& state)
{
    HeadlessGLContext::usePixelCoordinates(width, height);
    if (state.status || !mVideo.hasPicture()) {
        // The overlay's status image, centred, and its label: the same drawing as orva overlay.
        mStatus->setViewSize({static_cast<double>(width), static_cast<double>(height)});
        if (mStatus->hasImage()) mStatus->renderStatus();
        else {
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        drawLabel(kStatus, state.status.value_or("Waiting for the camera"), {Across::Centre, 56, false}, width, height);
    } else {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        mVideo.draw(width, height);
    }
    if (!state.caption.empty()) drawLabel(kCaption, state.caption, {Across::Left, kMargin, true}, width, height);
    if (state.recordingSeconds) {
        const int seconds = static_cast<int>(*state.recordingSeconds);
        char text[32];
        std::snprintf(text, sizeof text, "REC %02d:%02d", seconds / 60, seconds % 60);
        drawLabel(kRecording, text, {Across::Right, kMargin, true}, width, height);
    }
    drawLevels(state, width);
    if (state.muted && !state.levels.empty()) drawLabel(kMuted, "muted", {Across::Left, kMargin + 2 * (kBarHeight + 4), false}, width, height);
    if (!state.notice.empty()) drawLabel(kNotice, state.notice, {Across::Right, kMargin, false}, width, height);
    if (state.help) {
        std::string text;
        for (const auto& line : state.helpLines) text += (text.empty() ? "" : "\n") + line;
        drawLabel(kHelp, text, {Across::Centre, 56, true}, width, height);
    }
    glFlush();
}

std::vector<uint8_t> PreviewScreen::pictureSnapshot(uint32_t* width, uint32_t* height)
{
    if (!mVideo.hasPicture()) return {};
    const auto w = static_cast<GLsizei>(mPictureWidth), h = static_cast<GLsizei>(mPictureHeight);
    GLuint framebuffer = 0, color = 0;
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(1, &color);
    glBindRenderbuffer(GL_RENDERBUFFER, color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    std::vector<uint8_t> rows;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        HeadlessGLContext::usePixelCoordinates(w, h);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        mVideo.draw(w, h);
        std::vector<uint8_t> bottomUp(static_cast<size_t>(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
        const size_t row = static_cast<size_t>(w) * 4;
        rows.resize(bottomUp.size());
        for (GLsizei y = 0; y < h; ++y)
            std::copy_n(bottomUp.data() + y * row, row, rows.data() + (h - 1 - y) * row);
        *width = mPictureWidth;
        *height = mPictureHeight;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteRenderbuffers(1, &color);
    glDeleteFramebuffers(1, &framebuffer);
    return rows;
}

} // namespace orva
