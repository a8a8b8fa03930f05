// orva overlay [--status-image FILE] [--text "…"] [--size 640x480] --out frame.png [-y]
#include "Cli.h"
#include "Terminal.h"
#include "Commands.h"
#include "OutputFile.h"

#include <orva/CameraStatusDisplay.h>
#include <orva/GLString.h>
#include "platform/foundation/Bundle.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/HeadlessGLContext.h"
#include "platform/graphics/ImageReader.h"

#include <cstdio>
#include <filesystem>

using namespace orva;

namespace cli {

int runOverlay(Invocation& invocation)
{
    auto imagePath = invocation.value("status-image");
    const std::string text = invocation.value("text").value_or("Camera off");
    const auto out = invocation.value("out");
    if (!out) return invocation.fail(kExitUsage, "say where the picture goes, e.g. --out frame.png");
    const auto size = invocation.size(invocation.value("size").value_or("640x480"), "--size", 8192);
    if (!size) return kExitUsage;
    const auto [width, height] = *size;
    if (!imagePath) imagePath = Bundle::mainBundle()->pathForResource("CameraOff", "png");
    if (!imagePath) return invocation.fail(kExitUsage, "no --status-image given and no CameraOff.png in Resources/");
    int checked = kExitOk;
    const auto destination = OutputFile::check(invocation, *out, checked);
    if (!destination) return checked;
    std::string error;
    auto gl = HeadlessGLContext::create(static_cast<int>(width), static_cast<int>(height), &error);
    if (!gl) return invocation.fail(kExitFailure, "no OpenGL here: %s", error.c_str());

    CameraStatusDisplay status(*imagePath);
    if (!status.hasImage()) {
        (void)ImageReader::read(*imagePath, &error); // the reason, for the message
        return invocation.fail(kExitFailure, "cannot use the status image \"%s\": %s", imagePath->c_str(), error.c_str());
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
    OutputFile file(invocation, *destination);
    if (!file.open()) return kExitFailure;
    if (!BitmapContext::writePNG(file.temporaryPath(), pixels, gl->width(), gl->height()))
        return invocation.fail(kExitFailure, "cannot write \"%s\"", out->c_str());
    if (!file.commit()) return kExitFailure;
    std::fprintf(cli::out(), "Drew %s (%.0fx%.0f) centred in %ux%u and the label \"%s\" (%.0fx%.0f) with %s; wrote %s\n",
                std::filesystem::path(*imagePath).filename().c_str(), status.imageSize().width,
                status.imageSize().height, width, height, text.c_str(), labelSize.width, labelSize.height,
                gl->renderer().c_str(), out->c_str());
    label.deleteTexture();
    status.cleanup();
    return kExitOk;
}

} // namespace cli
