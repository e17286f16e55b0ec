#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A window's client area as the screen shows it: 32-bit pixels, rows top to bottom.
struct WindowImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    bool operator==(const WindowImage& other) const
    {
        return width == other.width && height == other.height && pixels == other.pixels;
    }
    bool operator!=(const WindowImage& other) const { return !(*this == other); }
    // More than one colour: something has been drawn on the background.
    bool HasDrawing() const;
};

// Reads the pixels from the screen, so it works for any process's visible window.
WindowImage CaptureClientArea(HWND window);
// Captures until something is drawn and two captures in a row agree, or the timeout passes.
WindowImage SteadyClientArea(HWND window, DWORD timeoutMs);

bool WriteBitmapFile(const WindowImage& image, const std::string& path);
