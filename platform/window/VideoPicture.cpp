#include "platform/window/VideoPicture.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <vector>

namespace orva {

namespace {

const char* kVertexShader = R"(
#version 120
varying vec2 where;
void main() { gl_Position = ftransform(); where = gl_MultiTexCoord0.xy; }
)";

// Video-range BT.601 to RGB.
const char* kToRgb = R"(
#version 120
varying vec2 where;
vec3 rgb(float y, float u, float v) {
    y = 1.164 * (y - 0.0627); u -= 0.502; v -= 0.502;
    return clamp(vec3(y + 1.596 * v, y - 0.392 * u - 0.813 * v, y + 2.017 * u), 0.0, 1.0);
}
)";

// A texel holds two pixels: U, Y0, V, Y1.
const char* kUyvyShader = R"(
uniform sampler2D pairs;
uniform float width;
void main() {
    vec4 t = texture2D(pairs, where);
    float y = mod(floor(where.x * width), 2.0) < 0.5 ? t.g : t.a;
    gl_FragColor = vec4(rgb(y, t.r, t.b), 1.0);
}
)";

const char* kI420Shader = R"(
uniform sampler2D planeY, planeU, planeV;
void main() {
    gl_FragColor = vec4(rgb(texture2D(planeY, where).r, texture2D(planeU, where).r, texture2D(planeV, where).r), 1.0);
}
)";

GLuint compile(GLenum kind, const std::vector<const char*>& parts, std::string& error)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, static_cast<GLsizei>(parts.size()), parts.data(), nullptr);
    glCompileShader(shader);
    GLint done = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &done);
    if (!done) {
        char log[512] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        error = log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint link(const char* fragment, std::string& error)
{
    const GLuint vertex = compile(GL_VERTEX_SHADER, {kVertexShader}, error);
    const GLuint pixels = compile(GL_FRAGMENT_SHADER, {kToRgb, fragment}, error);
    GLuint program = 0;
    if (vertex && pixels) {
        program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, pixels);
        glLinkProgram(program);
        GLint done = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &done);
        if (!done) {
            char log[512] = {};
            glGetProgramInfoLog(program, sizeof log, nullptr, log);
            error = log;
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vertex) glDeleteShader(vertex);
    if (pixels) glDeleteShader(pixels);
    return program;
}

} // namespace

VideoPicture::VideoPicture()
{
    mUyvyProgram = link(kUyvyShader, mError);
    mI420Program = link(kI420Shader, mError);
    glGenTextures(3, mTextures);
}

VideoPicture::~VideoPicture()
{
    glDeleteTextures(3, mTextures);
    if (mUyvyProgram) glDeleteProgram(mUyvyProgram);
    if (mI420Program) glDeleteProgram(mI420Program);
}

// Binds texture `index` on its unit, (re)making its storage when the size changed.
unsigned VideoPicture::texture(int index, int width, int height, bool packed)
{
    glActiveTexture(GL_TEXTURE0 + index);
    glBindTexture(GL_TEXTURE_2D, mTextures[index]);
    if (mTextureSize[index][0] != width || mTextureSize[index][1] != height) {
        // Nearest texels: packed pixels must not be blended across pairs, and on a
        // software renderer (a desktop without a GPU, Xvfb) filtering the planes costs
        // as much as the rest of the frame; shown at or below its size, nearest is near
        // enough.
        const GLint filter = GL_NEAREST;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, packed ? GL_RGBA8 : GL_R8, width, height, 0, packed ? GL_RGBA : GL_RED,
                     GL_UNSIGNED_BYTE, nullptr);
        mTextureSize[index][0] = width;
        mTextureSize[index][1] = height;
    }
    return mTextures[index];
}

void VideoPicture::upload(Layout layout, const uint8_t* bytes, uint32_t width, uint32_t height)
{
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (layout == Layout::UYVY) {
        texture(0, w / 2, h, true);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w / 2, h, GL_RGBA, GL_UNSIGNED_BYTE, bytes);
    } else {
        const uint8_t* planes[3] = {bytes, bytes + width * height, bytes + width * height + width * height / 4};
        for (int i = 0; i < 3; ++i) {
            const int pw = i ? w / 2 : w, ph = i ? h / 2 : h;
            texture(i, pw, ph, false);
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, pw, ph, GL_RED, GL_UNSIGNED_BYTE, planes[i]);
        }
    }
    glActiveTexture(GL_TEXTURE0);
    mLayout = layout;
    mWidth = width;
    mHeight = height;
}

void VideoPicture::draw(int viewWidth, int viewHeight)
{
    if (!hasPicture() || !ok()) return;
    // The largest rectangle of the picture's shape that fits, centred.
    const double scale = std::min(static_cast<double>(viewWidth) / mWidth, static_cast<double>(viewHeight) / mHeight);
    const auto w = static_cast<float>(mWidth * scale), h = static_cast<float>(mHeight * scale);
    const float x = (static_cast<float>(viewWidth) - w) / 2, y = (static_cast<float>(viewHeight) - h) / 2;

    const GLuint program = mLayout == Layout::UYVY ? mUyvyProgram : mI420Program;
    glUseProgram(program);
    if (mLayout == Layout::UYVY) {
        glUniform1i(glGetUniformLocation(program, "pairs"), 0);
        glUniform1f(glGetUniformLocation(program, "width"), static_cast<float>(mWidth));
    } else {
        glUniform1i(glGetUniformLocation(program, "planeY"), 0);
        glUniform1i(glGetUniformLocation(program, "planeU"), 1);
        glUniform1i(glGetUniformLocation(program, "planeV"), 2);
    }
    for (int i = 0; i < (mLayout == Layout::UYVY ? 1 : 3); ++i) {
        glActiveTexture(GL_TEXTURE0 + i);
        glBindTexture(GL_TEXTURE_2D, mTextures[i]);
    }
    // The picture's first row is its top.
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1); glVertex2f(x, y);
    glTexCoord2f(1, 1); glVertex2f(x + w, y);
    glTexCoord2f(1, 0); glVertex2f(x + w, y + h);
    glTexCoord2f(0, 0); glVertex2f(x, y + h);
    glEnd();
    glUseProgram(0);
    for (int i = 2; i >= 0; --i) {
        glActiveTexture(GL_TEXTURE0 + i);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
}

} // namespace orva
