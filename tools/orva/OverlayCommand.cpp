// orva overlay [--status-image FILE] [--text "…"] [--size 640x480] --out frame.png
#include "Cli.h"

#include <orva/CameraStatusDisplay.h>
#include <orva/GLString.h>
#include "platform/foundation/Bundle.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/HeadlessGLContext.h"

#include <cstdio>
#include <filesystem>

using namespace orva;

namespace cli {

int runOverlay(Args& args)
{
    auto imagePath = args.option("status-image");
    const std::string text = args.option("text").value_or("Camera off");
    const std::string sizeText = args.option("size").value_or("640x480");
    const auto out = args.option("out");
    if (!checkArgs("overlay", args, 0)) return 2;
    if (!out) {
        std::fprintf(stderr, "orva overlay: say where the picture goes, e.g. --out frame.png\n");
        return 2;
    }
    unsigned width = 0, height = 0;
    if (std::sscanf(sizeText.c_str(), "%ux%u", &width, &height) != 2 || width == 0 || height == 0 || width > 8192 ||
        height > 8192) {
        std::fprintf(stderr, "orva overlay: --size is WIDTHxHEIGHT up to 8192x8192, not \"%s\"\n", sizeText.c_str());
        return 2;
    }
    if (!imagePath) imagePath = Bundle::mainBundle()->pathForResource("CameraOff", "png");
    if (!imagePath) {
        std::fprintf(stderr, "orva overlay: no --status-image given and no CameraOff.png in Resources/\n");
        return 2;
    }
    std::string error;
    auto gl = HeadlessGLContext::create(static_cast<int>(width), static_cast<int>(height), &error);
    if (!gl) {
        std::fprintf(stderr, "orva overlay: no OpenGL here: %s\n", error.c_str());
        return 1;
    }

    CameraStatusDisplay status(*imagePath);
    if (!status.hasImage()) {
        std::fprintf(stderr, "orva overlay: cannot read the status image \"%s\"\n", imagePath->c_str());
        return 1;
    }
    status.setViewSize({static_cast<double>(width), static_cast<double>(height)});
    status.renderStatus();

    TextAttributes attributes;
    attributes.fontSize = 18;
    GLString label(AttributedString(text, attributes), Color{1, 1, 1, 1}, Color{0.1, 0.3, 0.6, 0.85},
                   Color{1, 1, 1, 0.9});
    label.genTexture();
    const Size labelSize = label.texSize();
    label.drawWithBounds({{(width - labelSize.width) / 2, 16}, labelSize}); // centred near the bottom

    const auto pixels = gl->readPixelsTopDown();
    if (!BitmapContext::writePNG(*out, pixels, gl->width(), gl->height())) {
        std::fprintf(stderr, "orva overlay: cannot write \"%s\"\n", out->c_str());
        return 1;
    }
    std::printf("Drew %s (%.0fx%.0f) centred in %ux%u and the label \"%s\" (%.0fx%.0f) with %s; wrote %s\n",
                std::filesystem::path(*imagePath).filename().c_str(), status.imageSize().width,
                status.imageSize().height, width, height, text.c_str(), labelSize.width, labelSize.height,
                gl->renderer().c_str(), out->c_str());
    label.deleteTexture();
    status.cleanup();
    return 0;
}

} // namespace cli
