#include "tests/e2e/window_capture.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "tests/e2e/server_process.h"

bool WindowImage::HasDrawing() const
{
    return std::any_of(pixels.begin(), pixels.end(),
                       [&](uint32_t pixel) { return pixel != pixels.front(); });
}

WindowImage CaptureClientArea(HWND window)
{
    WindowImage image;
    RECT client{};
    if (!GetClientRect(window, &client)) return image;
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    image.width = client.right;
    image.height = client.bottom;
    if (image.width <= 0 || image.height <= 0) return WindowImage{};

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, image.width, image.height, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        image.pixels.resize(static_cast<size_t>(image.width) * image.height);
        std::memcpy(image.pixels.data(), bits, image.pixels.size() * sizeof(uint32_t));
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

WindowImage SteadyClientArea(HWND window, DWORD timeoutMs)
{
    WindowImage image, previous;
    WaitUntil(
        [&] {
            previous = image;
            image = CaptureClientArea(window);
            return image.HasDrawing() && image == previous;
        },
        timeoutMs);
    return image;
}

bool WriteBitmapFile(const WindowImage& image, const std::string& path)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = image.width;
    header.biHeight = -image.height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const DWORD pixelBytes = static_cast<DWORD>(image.pixels.size() * sizeof(uint32_t));
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + pixelBytes;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(image.pixels.data()), pixelBytes);
    return static_cast<bool>(out);
}
