// Saving what OpenGL has drawn as a PNG file (stb_image_write).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// A rectangle of the framebuffer in pixels, counted from its top-left corner.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Reads that part of the current context's back buffer and writes it as an RGB PNG, top row
// first. Returns an error text when it cannot.
std::optional<std::string> SaveBackBufferPng(const std::filesystem::path& file, PixelRect rect, int framebufferHeight);
