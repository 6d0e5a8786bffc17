#include "FramePng.h"

#include <cstddef>
#include <vector>

#include <GL/gl.h>
#include <fmt/format.h>
#include <stb/stb_image_write.h>

std::optional<std::string> SaveBackBufferPng(const std::filesystem::path& file, PixelRect rect, int framebufferHeight)
{
    if (rect.width <= 0 || rect.height <= 0)
        return std::string("nothing to save: the region is empty");
    const std::size_t rowBytes = static_cast<std::size_t>(rect.width) * 3;
    std::vector<unsigned char> pixels(rowBytes * static_cast<std::size_t>(rect.height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    // OpenGL counts rows from the bottom.
    glReadPixels(rect.x, framebufferHeight - rect.y - rect.height, rect.width, rect.height, GL_RGB, GL_UNSIGNED_BYTE,
                 pixels.data());
    if (GLenum error = glGetError(); error != GL_NO_ERROR)
        return fmt::format("reading the frame failed (OpenGL error 0x{:x})", error);

    stbi_flip_vertically_on_write(1);
    if (!stbi_write_png(file.string().c_str(), rect.width, rect.height, 3, pixels.data(), static_cast<int>(rowBytes)))
        return fmt::format("cannot write {}", file.string());
    return std::nullopt;
}
