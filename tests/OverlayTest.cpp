#include <orva/CameraStatusDisplay.h>
#include <orva/GLString.h>
#include "overlay/RoundRect.h"
#include "platform/foundation/SystemLog.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/HeadlessGLContext.h"
#include "platform/graphics/ImageReader.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;
using RGBA = std::array<uint8_t, 4>;

namespace {

const RGBA kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255};

class Overlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemLog::setEchoToStandardError(false);
        std::string error;
        gl = HeadlessGLContext::create(640, 480, &error);
        ASSERT_TRUE(gl) << error;
        dir = fs::temp_directory_path() / ("orva-overlay-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    // An image file of w × h pixels, every pixel `colour`, or the given pixels.
    std::string image(int w, int h, RGBA colour, std::vector<RGBA> first = {})
    {
        std::vector<uint8_t> rgba;
        for (int i = 0; i < w * h; ++i) {
            const RGBA c = static_cast<size_t>(i) < first.size() ? first[static_cast<size_t>(i)] : colour;
            rgba.insert(rgba.end(), c.begin(), c.end());
        }
        const std::string path = (dir / ("image-" + std::to_string(++files) + ".png")).string();
        EXPECT_TRUE(BitmapContext::writePNG(path, rgba, w, h));
        return path;
    }
    void clearTo(float r, float g, float b)
    {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    std::unique_ptr<HeadlessGLContext> gl;
    fs::path dir;
    int files = 0;
};

TEST_F(Overlay, StatusImageIsCentredAtItsPixelSize)
{
    CameraStatusDisplay status(image(176, 144, kWhite));
    ASSERT_TRUE(status.hasImage());
    status.setViewSize({640, 480});
    status.renderStatus();
    EXPECT_EQ(gl->pixel(232, 168), kWhite);
    EXPECT_EQ(gl->pixel(407, 311), kWhite);
    EXPECT_EQ(gl->pixel(231, 168), kBlack);
    EXPECT_EQ(gl->pixel(232, 167), kBlack);
    EXPECT_EQ(gl->pixel(408, 311), kBlack);
    EXPECT_EQ(gl->pixel(407, 312), kBlack);

    // Before a view size is set the image is centred on the origin.
    status.setViewSize({0, 0});
    status.renderStatus();
    EXPECT_EQ(gl->pixel(87, 71), kWhite);
    EXPECT_EQ(gl->pixel(88, 71), kBlack);
    EXPECT_EQ(gl->pixel(87, 72), kBlack);

    // Larger than the view: it runs past every edge.
    CameraStatusDisplay large(image(800, 600, kWhite));
    large.setViewSize({640, 480});
    large.renderStatus();
    EXPECT_EQ(gl->pixel(0, 0), kWhite);
    EXPECT_EQ(gl->pixel(639, 479), kWhite);
}

TEST_F(Overlay, ColourTreatmentAndBottomUpRows)
{
    // One row: white, black, transparent, blue, red, white, then a green row above it.
    const std::vector<RGBA> row = {kWhite, kBlack, {0, 0, 0, 0}, {0, 0, 255, 255}, {255, 0, 0, 255}, kWhite};
    std::vector<RGBA> pixels(row);
    std::vector<RGBA> top(6, RGBA{0, 255, 0, 255});
    pixels.insert(pixels.begin(), top.begin(), top.end()); // the file's first row is the green one
    CameraStatusDisplay status(image(6, 2, kWhite, pixels));
    ASSERT_TRUE(status.hasImage());
    const auto& buffer = status.buffer();
    ASSERT_EQ(buffer.size(), 6u * 2 * 4);
    // The bottom row (white, black, …) comes first; each pixel's bytes are A, B, G, R after
    // the treatment (A: 0xFF when blue > 0x80; R: 0xFF).
    EXPECT_EQ((std::vector<uint8_t>(buffer.begin(), buffer.begin() + 8)),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF}));

    status.setViewSize({640, 480});
    status.renderStatus();
    const int x0 = (640 - 6) / 2 + 1, y0 = (480 - 2) / 2; // the image's lower-left pixel is (317, 239)
    EXPECT_EQ(gl->pixel(x0 - 1 + 0, y0), kWhite) << "white stays white";
    EXPECT_EQ(gl->pixel(x0 - 1 + 1, y0), kBlack) << "black stays black";
    EXPECT_EQ(gl->pixel(x0 - 1 + 2, y0), kBlack) << "transparent becomes black";
    EXPECT_EQ(gl->pixel(x0 - 1 + 3, y0), (RGBA{0, 255, 255, 255})) << "blue becomes cyan";
    EXPECT_EQ(gl->pixel(x0 - 1 + 4, y0), kBlack) << "red becomes black";
    EXPECT_EQ(gl->pixel(x0 - 1 + 0, y0 + 1), (RGBA{255, 0, 0, 255})) << "the top row is on top: green reads as red";
}

TEST_F(Overlay, CleanupAndUnreadableImagesDrawNothing)
{
    CameraStatusDisplay status(image(16, 16, kWhite));
    status.setViewSize({640, 480});
    status.cleanup();
    EXPECT_EQ(status.texture(), 0u);
    clearTo(1, 0, 0);
    status.renderStatus();
    EXPECT_EQ(gl->pixel(320, 240), (RGBA{255, 0, 0, 255})) << "not even cleared";
    status.cleanup(); // twice: nothing more

    std::ofstream(dir / "garbage.png") << "not an image";
    for (const std::string& path : {(dir / "garbage.png").string(), (dir / "missing.png").string()}) {
        CameraStatusDisplay broken(path);
        EXPECT_FALSE(broken.hasImage());
        broken.setViewSize({640, 480});
        broken.renderStatus();
        EXPECT_EQ(gl->pixel(320, 240), (RGBA{255, 0, 0, 255}));
    }
}

TEST_F(Overlay, GLStringFramesFollowTheTextUnlessStatic)
{
    GLString label(AttributedString("Status"));
    const Size text = AttributedString("Status").size();
    ASSERT_GT(text.width, 0);
    EXPECT_EQ(label.frameSize(), (Size{text.width + 8, text.height + 4})) << "margins of 4 × 2";
    label.setString(AttributedString("A much longer status"));
    EXPECT_GT(label.frameSize().width, text.width + 8);

    label.useStaticFrame({100, 20});
    label.setString(AttributedString("x"));
    EXPECT_EQ(label.frameSize(), (Size{100, 20}));
    label.genTexture();
    EXPECT_EQ(label.texSize(), (Size{100, 20}));
    label.useDynamicFrame();
    EXPECT_TRUE(label.requiresUpdate());
    EXPECT_EQ(label.frameSize(), (Size{AttributedString("x").size().width + 8, AttributedString("x").size().height + 4}));
    label.genTexture();
    label.useDynamicFrame(); // already dynamic: not marked
    EXPECT_FALSE(label.requiresUpdate());
}

TEST_F(Overlay, GLStringUploadsInFullThenAsSubImageAndDeletes)
{
    GLString label(AttributedString("Upload"));
    label.genTexture();
    const unsigned first = label.texName();
    EXPECT_NE(first, 0u);
    label.setTextColor({1, 0, 0, 1});
    label.genTexture();
    EXPECT_EQ(label.texName(), first);
    EXPECT_EQ(label.fullUploads(), 1);
    EXPECT_EQ(label.subImageUploads(), 1) << "same size: the storage is reused";

    label.deleteTexture();
    EXPECT_EQ(label.texName(), 0u);
    clearTo(0, 0, 0);
    label.drawWithBounds({{0, 0}, label.texSize()});
    EXPECT_EQ(gl->pixel(2, 2), kBlack) << "nothing until rebuilt";
    label.setBoxColor({0, 0, 1, 1});
    label.drawWithBounds({{0, 0}, label.texSize()});
    EXPECT_NE(label.texName(), 0u);
    EXPECT_EQ(label.fullUploads(), 2) << "a new texture is uploaded whole";
    EXPECT_EQ(gl->pixel(3, 3), (RGBA{0, 0, 255, 255}));
}

TEST_F(Overlay, GLStringQuadAndItsBoxAndBorder)
{
    clearTo(0, 0, 0);
    GLString plain(AttributedString(" "));
    plain.drawWithBounds({{10, 20}, {50, 10}});
    for (auto [x, y] : {std::pair{12, 22}, {35, 25}, {58, 28}})
        EXPECT_EQ(gl->pixel(x, y), kBlack) << "transparent box and border: nothing but the text";

    GLString boxed(AttributedString(" "), {1, 1, 1, 1}, {1, 0, 0, 1}, {0, 1, 0, 1});
    boxed.useStaticFrame({50, 10});
    boxed.drawWithBounds({{10, 20}, {50, 10}});
    EXPECT_EQ(gl->pixel(35, 25), (RGBA{255, 0, 0, 255})) << "the box fills the quad";
    EXPECT_EQ(gl->pixel(35, 20)[1], 255) << "the border on the bottom edge";
    EXPECT_EQ(gl->pixel(9, 25), kBlack);
    EXPECT_EQ(gl->pixel(60, 25), kBlack);
    EXPECT_EQ(gl->pixel(35, 30), kBlack);
    EXPECT_EQ(gl->pixel(35, 19), kBlack);
}

TEST_F(Overlay, GLStringTextIsUprightAndNeedsAContext)
{
    // A capital T: a row of ink across its top, a single stem below.
    TextAttributes big;
    big.fontSize = 40;
    GLString letter(AttributedString("T", big));
    letter.setMargins({0, 0});
    clearTo(0, 0, 0);
    letter.genTexture();
    const Size s = letter.texSize();
    letter.drawWithBounds({{100, 100}, s});
    auto inkAcross = [&](int y) {
        int n = 0;
        for (int x = 100; x < 100 + static_cast<int>(s.width); ++x) n += gl->pixel(x, y)[0] > 128;
        return n;
    };
    int top = 0, bottom = 0;
    for (int y = 100 + static_cast<int>(s.height) - 1; y >= 100 && !top; --y) top = inkAcross(y) ? y : 0;
    for (int y = 100; y < 100 + static_cast<int>(s.height) && !bottom; ++y) bottom = inkAcross(y) ? y : 0;
    ASSERT_GT(top, bottom);
    EXPECT_GT(inkAcross(top - 1), 2 * inkAcross(bottom + 1)) << "the bar is at the top: the T is upright";

    // With no context current: the line, no texture, and no retry until marked.
    std::vector<std::string> lines;
    const auto hook = SystemLog::addHook([&](const std::string& line) { lines.push_back(line); });
    gl->release();
    GLString orphan(AttributedString("no context"));
    orphan.genTexture();
    SystemLog::removeHook(hook);
    gl->makeCurrent();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("StringTexture -genTexture: Failure to get current OpenGL context", 0), 0u);
    EXPECT_EQ(orphan.texName(), 0u);
    EXPECT_FALSE(orphan.requiresUpdate());
    orphan.drawAtPoint({0, 0}); // no texture, no parent view: nothing
}

TEST_F(Overlay, AnImageDeclaringHugeDimensionsIsRefusedBeforeDecoding)
{
    // A PNG of 20000 x 20000 pixels (1.6 GB decoded) in a few hundred bytes.
    auto bigEndian = [](std::string& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
    };
    std::string ihdr = "IHDR";
    bigEndian(ihdr, 20000);
    bigEndian(ihdr, 20000);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, no interlace
    std::string png = "\x89PNG\r\n\x1A\n";
    bigEndian(png, 13);
    png += ihdr;
    bigEndian(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(ihdr.data()), static_cast<uInt>(ihdr.size()))));
    // The start of the pixel data: decoders learn the size when it begins.
    std::vector<Bytef> zeros(4096, 0), packed(compressBound(4096));
    uLongf packedSize = packed.size();
    ASSERT_EQ(compress(packed.data(), &packedSize, zeros.data(), zeros.size()), Z_OK);
    std::string idat = "IDAT" + std::string(reinterpret_cast<const char*>(packed.data()), packedSize);
    bigEndian(png, static_cast<uint32_t>(packedSize));
    png += idat;
    bigEndian(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(idat.data()), static_cast<uInt>(idat.size()))));
    const std::string path = (dir / "bomb.png").string();
    std::ofstream(path, std::ios::binary) << png;

    std::string error;
    EXPECT_FALSE(ImageReader::read(path, &error));
    EXPECT_EQ(error, "the image is 20000x20000 pixels, larger than 8192x8192");
    CameraStatusDisplay status(path);
    EXPECT_FALSE(status.hasImage());
}

TEST_F(Overlay, ALabelWiderThanTheLargestTextureIsCutNotLost)
{
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE_ARB, &largest);
    ASSERT_GT(largest, 0);
    std::vector<std::string> lines;
    const auto hook = SystemLog::addHook([&](const std::string& line) { lines.push_back(line); });
    TextAttributes big;
    big.fontSize = 40;
    GLString label(AttributedString(std::string(static_cast<size_t>(largest) / 8, 'W'), big));
    ASSERT_GT(label.frameSize().width, largest) << "the label must be too wide for this test";
    clearTo(0, 0, 0);
    label.genTexture();
    SystemLog::removeHook(hook);
    ASSERT_NE(label.texName(), 0u);
    EXPECT_EQ(label.texSize().width, largest);
    label.drawWithBounds({{0, 100}, {640, label.texSize().height}});
    int ink = 0;
    for (int x = 0; x < 640; ++x)
        for (int y = 100; y < 100 + static_cast<int>(label.texSize().height); y += 4) ink += gl->pixel(x, y)[0] > 128;
    EXPECT_GT(ink, 100) << "the label draws";
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("larger than the largest texture"), std::string::npos);
}

TEST(RoundRectPath, RadiusClampAndDegenerateRects)
{
    const BezierPath rounded = bezierPathWithRoundedRect({{0, 0}, {10, 4}}, 4.0f);
    using T = BezierPath::ElementType;
    std::vector<T> types;
    for (const auto& e : rounded.elements()) types.push_back(e.type);
    EXPECT_EQ(types, (std::vector<T>{T::MoveTo, T::LineTo, T::CurveTo, T::CurveTo, T::LineTo, T::CurveTo, T::CurveTo,
                                     T::ClosePath}));
    auto near = [](Point a, Point b) { return std::abs(a.x - b.x) < 1e-9 && std::abs(a.y - b.y) < 1e-9; };
    EXPECT_TRUE(near(rounded.elementAtIndex(0).points[0], {5, 4}));
    EXPECT_TRUE(near(rounded.elementAtIndex(1).points[0], {2, 4})) << "radius clamped to 2";
    EXPECT_TRUE(near(rounded.elementAtIndex(2).points[2], {0, 2}));
    EXPECT_TRUE(near(rounded.elementAtIndex(3).points[2], {2, 0}));
    EXPECT_TRUE(near(rounded.elementAtIndex(4).points[0], {8, 0}));
    EXPECT_TRUE(near(rounded.elementAtIndex(6).points[2], {8, 4}));

    const BezierPath square = bezierPathWithRoundedRect({{1, 1}, {3, 3}}, 0.0f);
    ASSERT_EQ(square.elementCount(), 5u);
    EXPECT_EQ(square.elementAtIndex(2).points[0], (Point{4, 4}));
    EXPECT_TRUE(bezierPathWithRoundedRect({{0, 0}, {0, 5}}, 2.0f).isEmpty());
    EXPECT_TRUE(bezierPathWithRoundedRect({{0, 0}, {5, -1}}, 2.0f).isEmpty());
}

} // namespace
