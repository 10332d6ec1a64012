#include "render/dib_plane_win32.h"

#include <windows.h>

namespace horavel {

namespace {

class DibPlane final : public PlaneBitmap {
public:
    DibPlane(HBITMAP bitmap, uint8_t* pixels) : m_bitmap(bitmap), m_pixels(pixels) {}
    DibPlane(const DibPlane&) = delete;
    DibPlane& operator=(const DibPlane&) = delete;
    // The renderer always selects its own bitmap back before a plane can be
    // released, so the section is never selected into a DC here.
    ~DibPlane() override { ::DeleteObject(m_bitmap); }
    uint8_t* Pixels() const override { return m_pixels; }
    void* NativeHandle() const override { return m_bitmap; }

private:
    HBITMAP m_bitmap;
    uint8_t* m_pixels;
};

} // namespace

std::unique_ptr<PlaneBitmap> AllocateDibPlane(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    // A BITMAPINFOHEADER and one zeroed colour entry.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[1];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;  // positive: bottom-up
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
                                        nullptr, 0);
    if (!bitmap)
        return nullptr;
    if (!bits) {
        ::DeleteObject(bitmap);
        return nullptr;
    }
    return std::make_unique<DibPlane>(bitmap, static_cast<uint8_t*>(bits));
}

} // namespace horavel
