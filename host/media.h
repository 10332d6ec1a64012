// Pictures for the reference host: the moving test pattern, Y4M files, the
// two frame layouts the plug-in draws on, and PNG / BMP snapshots. Portable.
#pragma once

#include "core/plugin_record.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace norvale {

using horavel::FrameLayout;
using horavel::LayoutRGB24;
using horavel::LayoutYUY2;

// A picture in full-range Y'CbCr 4:4:4, one byte per sample per plane, the
// host's own working form between inputs and frame layouts.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;

    void Resize(int w, int h);
};

size_t FrameBytes(FrameLayout layout, int width, int height);
// Packs a picture into a frame buffer of the layout (YUY2: chroma of each
// pair averaged; RGB24: bottom line first). An odd YUY2 width drops the last
// half pair.
void PictureToFrame(const Picture& picture, FrameLayout layout, uint8_t* frame);
void FrameToPicture(const uint8_t* frame, FrameLayout layout, int width, int height, Picture& picture);

// Full-range BT.601 conversions, rounded, saturated.
void RgbToYuv(int r, int g, int b, uint8_t& y, uint8_t& u, uint8_t& v);
void YuvToRgb(int y, int u, int v, uint8_t& r, uint8_t& g, uint8_t& b);

// A moving pattern: colour bars, a grey ramp and a box that travels with the
// frame number.
void DrawTestPattern(int frameNumber, Picture& picture);

// --- Y4M -------------------------------------------------------------------
enum class Chroma { C420, C422, C444 };

struct Y4mHeader {
    int width = 0;
    int height = 0;
    int fpsNum = 25;
    int fpsDen = 1;
    Chroma chroma = Chroma::C420;
};

// Parses a stream header line (without its line end). Returns an error
// message, empty on success. Only 8-bit 4:2:0, 4:2:2 and 4:4:4 are accepted.
std::string ParseY4mHeader(const std::string& line, Y4mHeader& header);

class Y4mReader {
public:
    ~Y4mReader();
    // Error message, empty on success.
    std::string Open(const std::string& path);
    const Y4mHeader& Header() const { return m_header; }
    // false at the end of the stream or on a damaged frame (see Error()).
    bool ReadFrame(Picture& picture);
    const std::string& Error() const { return m_error; }

private:
    std::FILE* m_file = nullptr;
    Y4mHeader m_header;
    std::string m_error;
    std::vector<uint8_t> m_u, m_v;
};

class Y4mWriter {
public:
    ~Y4mWriter();
    // Writes 4:2:2 for YUY2 streams (their own sampling) and 4:4:4 otherwise.
    std::string Open(const std::string& path, int width, int height, int fpsNum, Chroma chroma);
    bool WriteFrame(const Picture& picture);
    bool Close();

private:
    std::FILE* m_file = nullptr;
    Chroma m_chroma = Chroma::C444;
    std::vector<uint8_t> m_u, m_v;
};

// --- snapshots ---------------------------------------------------------------
// Writes the picture as a 24-bit PNG (uncompressed deflate) or BMP, chosen by
// the file name's extension. Error message, empty on success.
std::string WriteSnapshot(const std::string& path, const Picture& picture);
std::vector<uint8_t> EncodePng(const Picture& picture);
std::vector<uint8_t> EncodeBmp(const Picture& picture);

} // namespace norvale
