#include "host/media.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace norvale {

namespace {

uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Rounded division of a fixed-point value with 16 fractional bits.
int Fixed16(int v) { return (v + 32768) >> 16; }

} // namespace

void Picture::Resize(int w, int h)
{
    width = w;
    height = h;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    y.assign(n, 0);
    u.assign(n, 128);
    v.assign(n, 128);
}

void RgbToYuv(int r, int g, int b, uint8_t& y, uint8_t& u, uint8_t& v)
{
    // 0.299, 0.587, 0.114; Cb 0.5 B - 0.1687 R - 0.3313 G; Cr 0.5 R - 0.4187 G - 0.0813 B.
    y = Clamp255(Fixed16(19595 * r + 38470 * g + 7471 * b));
    u = Clamp255(128 + Fixed16(-11056 * r - 21712 * g + 32768 * b));
    v = Clamp255(128 + Fixed16(32768 * r - 27440 * g - 5328 * b));
}

void YuvToRgb(int y, int u, int v, uint8_t& r, uint8_t& g, uint8_t& b)
{
    const int cb = u - 128, cr = v - 128;
    r = Clamp255(y + Fixed16(91881 * cr));
    g = Clamp255(y - Fixed16(22554 * cb + 46802 * cr));
    b = Clamp255(y + Fixed16(116130 * cb));
}

size_t FrameBytes(FrameLayout layout, int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const size_t perPixel = layout == LayoutYUY2 ? 2 : 3;
    return perPixel * static_cast<size_t>(width) * static_cast<size_t>(height);
}

void PictureToFrame(const Picture& p, FrameLayout layout, uint8_t* frame)
{
    const int w = p.width, h = p.height;
    for (int row = 0; row < h; ++row) {
        const size_t in = static_cast<size_t>(row) * w;
        if (layout == LayoutYUY2) {
            uint8_t* out = frame + static_cast<size_t>(row) * 2 * w;
            for (int x = 0; x + 1 < w; x += 2) {
                out[2 * x + 0] = p.y[in + x];
                out[2 * x + 1] = static_cast<uint8_t>((p.u[in + x] + p.u[in + x + 1] + 1) >> 1);
                out[2 * x + 2] = p.y[in + x + 1];
                out[2 * x + 3] = static_cast<uint8_t>((p.v[in + x] + p.v[in + x + 1] + 1) >> 1);
            }
            if (w & 1)  // a lone last pixel: its luma only
                out[2 * (w - 1)] = p.y[in + w - 1];
        } else {
            uint8_t* out = frame + static_cast<size_t>(h - 1 - row) * 3 * w;
            for (int x = 0; x < w; ++x)
                YuvToRgb(p.y[in + x], p.u[in + x], p.v[in + x], out[3 * x + 2], out[3 * x + 1], out[3 * x]);
        }
    }
}

void FrameToPicture(const uint8_t* frame, FrameLayout layout, int w, int h, Picture& p)
{
    p.Resize(w, h);
    for (int row = 0; row < h; ++row) {
        const size_t o = static_cast<size_t>(row) * w;
        if (layout == LayoutYUY2) {
            const uint8_t* in = frame + static_cast<size_t>(row) * 2 * w;
            for (int x = 0; x < w; ++x) {
                p.y[o + x] = in[2 * x];
                const int pair = (x / 2) * 4;
                if (pair + 3 < 2 * w) {
                    p.u[o + x] = in[pair + 1];
                    p.v[o + x] = in[pair + 3];
                }
            }
        } else {
            const uint8_t* in = frame + static_cast<size_t>(h - 1 - row) * 3 * w;
            for (int x = 0; x < w; ++x)
                RgbToYuv(in[3 * x + 2], in[3 * x + 1], in[3 * x], p.y[o + x], p.u[o + x], p.v[o + x]);
        }
    }
}

void DrawTestPattern(int n, Picture& p)
{
    static const uint8_t bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                       {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
    const int w = p.width, h = p.height;
    if (w <= 0 || h <= 0)
        return;
    const int barsBottom = h * 2 / 3;
    const int box = std::max(8, h / 6);
    const int span = std::max(1, w - box);
    const int phase = (n * 4) % (2 * span);
    const int boxX = phase < span ? phase : 2 * span - phase;
    const int boxY = barsBottom - box / 2;
    for (int row = 0; row < h; ++row) {
        for (int x = 0; x < w; ++x) {
            int r, g, b;
            if (row < barsBottom) {
                const uint8_t* c = bars[std::min(7, x * 8 / w)];
                r = c[0], g = c[1], b = c[2];
            } else {
                r = g = b = (x * 255) / std::max(1, w - 1);  // grey ramp
            }
            if (x >= boxX && x < boxX + box && row >= boxY && row < boxY + box) {
                r = 255, g = 128 + (n * 5) % 128, b = 0;
            }
            const size_t o = static_cast<size_t>(row) * w + x;
            RgbToYuv(r, g, b, p.y[o], p.u[o], p.v[o]);
        }
    }
}

// --- Y4M ---------------------------------------------------------------------

std::string ParseY4mHeader(const std::string& line, Y4mHeader& header)
{
    std::istringstream in(line);
    std::string magic;
    in >> magic;
    if (magic != "YUV4MPEG2")
        return "not a Y4M stream (no YUV4MPEG2 signature)";
    header = Y4mHeader{};
    std::string token;
    while (in >> token) {
        const char tag = token[0];
        const std::string value = token.substr(1);
        try {
            if (tag == 'W')
                header.width = std::stoi(value);
            else if (tag == 'H')
                header.height = std::stoi(value);
            else if (tag == 'F') {
                const size_t colon = value.find(':');
                if (colon == std::string::npos)
                    return "bad frame rate " + value;
                header.fpsNum = std::stoi(value.substr(0, colon));
                header.fpsDen = std::stoi(value.substr(colon + 1));
            } else if (tag == 'C') {
                if (value == "420" || value == "420jpeg" || value == "420paldv" || value == "420mpeg2")
                    header.chroma = Chroma::C420;
                else if (value == "422")
                    header.chroma = Chroma::C422;
                else if (value == "444")
                    header.chroma = Chroma::C444;
                else
                    return "unsupported colour space C" + value + " (8-bit 420, 422 or 444 only)";
            }
        } catch (...) {
            return "bad header value " + token;
        }
    }
    if (header.width <= 0 || header.height <= 0 || header.width > 16384 || header.height > 16384)
        return "bad frame size in the Y4M header";
    if (header.fpsNum <= 0 || header.fpsDen <= 0)
        header.fpsNum = 25, header.fpsDen = 1;
    return {};
}

namespace {

bool ReadLine(std::FILE* f, std::string& line, size_t limit)
{
    line.clear();
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c == '\n')
            return true;
        if (line.size() >= limit)
            return false;
        line.push_back(static_cast<char>(c));
    }
    return false;
}

void ChromaSize(Chroma chroma, int w, int h, int& cw, int& ch)
{
    cw = chroma == Chroma::C444 ? w : (w + 1) / 2;
    ch = chroma == Chroma::C420 ? (h + 1) / 2 : h;
}

} // namespace

Y4mReader::~Y4mReader()
{
    if (m_file)
        std::fclose(m_file);
}

std::string Y4mReader::Open(const std::string& path)
{
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return "cannot open " + path;
    std::string line;
    if (!ReadLine(m_file, line, 4096))
        return path + ": no Y4M stream header";
    const std::string error = ParseY4mHeader(line, m_header);
    return error.empty() ? error : path + ": " + error;
}

bool Y4mReader::ReadFrame(Picture& p)
{
    if (!m_file)
        return false;
    std::string line;
    if (!ReadLine(m_file, line, 4096)) {
        if (!line.empty())
            m_error = "damaged frame header";
        return false;
    }
    if (line.rfind("FRAME", 0) != 0) {
        m_error = "damaged frame header";
        return false;
    }
    const int w = m_header.width, h = m_header.height;
    int cw, ch;
    ChromaSize(m_header.chroma, w, h, cw, ch);
    p.Resize(w, h);
    const size_t chromaBytes = static_cast<size_t>(cw) * ch;
    m_u.resize(chromaBytes);
    m_v.resize(chromaBytes);
    if (std::fread(p.y.data(), 1, p.y.size(), m_file) != p.y.size() ||
        std::fread(m_u.data(), 1, chromaBytes, m_file) != chromaBytes ||
        std::fread(m_v.data(), 1, chromaBytes, m_file) != chromaBytes) {
        m_error = "truncated frame";
        return false;
    }
    // Up-sample the chroma to 4:4:4 by repeating samples.
    const int sx = cw == w ? 0 : 1, sy = ch == h ? 0 : 1;
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            const size_t from = static_cast<size_t>(row >> sy) * cw + (x >> sx);
            p.u[static_cast<size_t>(row) * w + x] = m_u[from];
            p.v[static_cast<size_t>(row) * w + x] = m_v[from];
        }
    return true;
}

Y4mWriter::~Y4mWriter() { Close(); }

std::string Y4mWriter::Open(const std::string& path, int width, int height, int fpsNum, Chroma chroma)
{
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return "cannot create " + path;
    m_chroma = chroma;
    const char* tag = chroma == Chroma::C422 ? "422" : chroma == Chroma::C420 ? "420jpeg" : "444";
    std::fprintf(m_file, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C%s XCOLORRANGE=FULL\n", width, height, fpsNum, tag);
    return {};
}

bool Y4mWriter::WriteFrame(const Picture& p)
{
    if (!m_file)
        return false;
    const int w = p.width, h = p.height;
    int cw, ch;
    ChromaSize(m_chroma, w, h, cw, ch);
    m_u.assign(static_cast<size_t>(cw) * ch, 128);
    m_v.assign(m_u.size(), 128);
    const int sx = cw == w ? 0 : 1, sy = ch == h ? 0 : 1;
    for (int row = 0; row < ch; ++row)
        for (int x = 0; x < cw; ++x) {
            // Take the top-left sample of each block: the frames already
            // share their chroma per pair.
            const size_t from = static_cast<size_t>(row << sy) * w + (x << sx);
            m_u[static_cast<size_t>(row) * cw + x] = p.u[from];
            m_v[static_cast<size_t>(row) * cw + x] = p.v[from];
        }
    std::fputs("FRAME\n", m_file);
    return std::fwrite(p.y.data(), 1, p.y.size(), m_file) == p.y.size() &&
           std::fwrite(m_u.data(), 1, m_u.size(), m_file) == m_u.size() &&
           std::fwrite(m_v.data(), 1, m_v.size(), m_file) == m_v.size();
}

bool Y4mWriter::Close()
{
    if (!m_file)
        return true;
    const bool ok = std::fclose(m_file) == 0;
    m_file = nullptr;
    return ok;
}

// --- snapshots -----------------------------------------------------------------

namespace {

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0)
{
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

void PutLE(std::vector<uint8_t>& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    PutBE32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBE32(out, Crc32(out.data() + start, out.size() - start));
}

} // namespace

std::vector<uint8_t> EncodePng(const Picture& p)
{
    // Raw scanlines (filter byte 0, then RGB), wrapped in stored deflate blocks.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(p.height) * (1 + 3 * static_cast<size_t>(p.width)));
    for (int row = 0; row < p.height; ++row) {
        raw.push_back(0);
        for (int x = 0; x < p.width; ++x) {
            const size_t o = static_cast<size_t>(row) * p.width + x;
            uint8_t r, g, b;
            YuvToRgb(p.y[o], p.u[o], p.v[o], r, g, b);
            raw.push_back(r), raw.push_back(g), raw.push_back(b);
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        PutLE(z, static_cast<uint32_t>(n), 2);
        PutLE(z, static_cast<uint32_t>(~n & 0xFFFF), 2);
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos), raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw)
        a = (a + c) % 65521, b = (b + a) % 65521;
    PutBE32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, static_cast<uint32_t>(p.width));
    PutBE32(ihdr, static_cast<uint32_t>(p.height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    PngChunk(png, "IHDR", ihdr);
    PngChunk(png, "IDAT", z);
    PngChunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> EncodeBmp(const Picture& p)
{
    const uint32_t stride = (3 * static_cast<uint32_t>(p.width) + 3) & ~3u;
    const uint32_t imageSize = stride * static_cast<uint32_t>(p.height);
    std::vector<uint8_t> bmp = {'B', 'M'};
    PutLE(bmp, 54 + imageSize, 4);
    PutLE(bmp, 0, 4);
    PutLE(bmp, 54, 4);
    PutLE(bmp, 40, 4);
    PutLE(bmp, static_cast<uint32_t>(p.width), 4);
    PutLE(bmp, static_cast<uint32_t>(p.height), 4);  // bottom-up
    PutLE(bmp, 1, 2);
    PutLE(bmp, 24, 2);
    PutLE(bmp, 0, 4);
    PutLE(bmp, imageSize, 4);
    PutLE(bmp, 2835, 4);
    PutLE(bmp, 2835, 4);
    PutLE(bmp, 0, 4);
    PutLE(bmp, 0, 4);
    for (int row = p.height - 1; row >= 0; --row) {
        for (int x = 0; x < p.width; ++x) {
            const size_t o = static_cast<size_t>(row) * p.width + x;
            uint8_t r, g, b;
            YuvToRgb(p.y[o], p.u[o], p.v[o], r, g, b);
            bmp.push_back(b), bmp.push_back(g), bmp.push_back(r);
        }
        for (uint32_t pad = 3 * static_cast<uint32_t>(p.width); pad < stride; ++pad)
            bmp.push_back(0);
    }
    return bmp;
}

std::string WriteSnapshot(const std::string& path, const Picture& p)
{
    std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::vector<uint8_t> bytes;
    if (ext == ".png")
        bytes = EncodePng(p);
    else if (ext == ".bmp")
        bytes = EncodeBmp(p);
    else
        return "snapshot " + path + ": the name must end in .png or .bmp";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return "cannot create " + path;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0 && ok) ? std::string() : "cannot write " + path;
}

} // namespace norvale
