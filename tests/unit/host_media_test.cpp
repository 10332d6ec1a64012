// The reference host's picture handling: Y4M in and out, the two frame
// layouts, snapshots and the command line.
#include "host/media.h"
#include "host/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

namespace norvale {
namespace {

Picture RandomPicture(int w, int h, uint32_t seed, bool pairChroma)
{
    std::mt19937 rng(seed);
    Picture p;
    p.Resize(w, h);
    for (size_t i = 0; i < p.y.size(); ++i) {
        p.y[i] = static_cast<uint8_t>(rng());
        p.u[i] = static_cast<uint8_t>(rng());
        p.v[i] = static_cast<uint8_t>(rng());
    }
    if (pairChroma)  // the form a YUY2 frame can hold exactly
        for (size_t i = 0; i + 1 < p.y.size(); i += 2)
            p.u[i + 1] = p.u[i], p.v[i + 1] = p.v[i];
    return p;
}

TEST(HostY4m, HeaderParsing)
{
    Y4mHeader h;
    EXPECT_EQ(ParseY4mHeader("YUV4MPEG2 W720 H576 F25:1 Ip A1:1 C420jpeg", h), "");
    EXPECT_EQ(h.width, 720);
    EXPECT_EQ(h.height, 576);
    EXPECT_EQ(h.chroma, Chroma::C420);
    EXPECT_EQ(ParseY4mHeader("YUV4MPEG2 W8 H2 F30000:1001 C422", h), "");
    EXPECT_EQ(h.chroma, Chroma::C422);
    EXPECT_EQ(h.fpsDen, 1001);
    EXPECT_EQ(ParseY4mHeader("YUV4MPEG2 W8 H2 C444", h), "");
    EXPECT_EQ(h.chroma, Chroma::C444);
    EXPECT_EQ(ParseY4mHeader("YUV4MPEG2 W8 H2", h), "");  // 4:2:0 by default
    EXPECT_EQ(h.chroma, Chroma::C420);

    EXPECT_NE(ParseY4mHeader("YUV4MPEG W8 H2", h), "");
    EXPECT_NE(ParseY4mHeader("YUV4MPEG2 W8 H2 C420p10", h), "");
    EXPECT_NE(ParseY4mHeader("YUV4MPEG2 W8 H2 C411", h), "");
    EXPECT_NE(ParseY4mHeader("YUV4MPEG2 H2", h), "");
    EXPECT_NE(ParseY4mHeader("YUV4MPEG2 Wabc H2", h), "");
    EXPECT_NE(ParseY4mHeader("YUV4MPEG2 W-8 H2", h), "");
}

TEST(HostY4m, WrittenFramesReadBackForEachSampling)
{
    const auto dir = std::filesystem::temp_directory_path();
    for (Chroma chroma : {Chroma::C422, Chroma::C444}) {
        const std::string path = (dir / ("horavel-host-" + std::to_string(int(chroma)) + ".y4m")).string();
        // 4:2:2 keeps one chroma sample per pair, 4:4:4 every sample.
        const Picture a = RandomPicture(10, 4, 1, chroma == Chroma::C422);
        const Picture b = RandomPicture(10, 4, 2, chroma == Chroma::C422);
        Y4mWriter writer;
        ASSERT_EQ(writer.Open(path, 10, 4, 25, chroma), "");
        ASSERT_TRUE(writer.WriteFrame(a));
        ASSERT_TRUE(writer.WriteFrame(b));
        ASSERT_TRUE(writer.Close());

        Y4mReader reader;
        ASSERT_EQ(reader.Open(path), "");
        Picture got;
        ASSERT_TRUE(reader.ReadFrame(got));
        EXPECT_EQ(got.y, a.y);
        EXPECT_EQ(got.u, a.u);
        EXPECT_EQ(got.v, a.v);
        ASSERT_TRUE(reader.ReadFrame(got));
        EXPECT_EQ(got.u, b.u);
        EXPECT_FALSE(reader.ReadFrame(got));
        EXPECT_EQ(reader.Error(), "");  // a clean end, not damage
        std::remove(path.c_str());
    }
}

TEST(HostY4m, TruncatedAndMissingFilesAreReported)
{
    const auto path = (std::filesystem::temp_directory_path() / "horavel-host-trunc.y4m").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("YUV4MPEG2 W4 H2 C444\nFRAME\nabc", f);
    std::fclose(f);
    Y4mReader reader;
    ASSERT_EQ(reader.Open(path), "");
    Picture p;
    EXPECT_FALSE(reader.ReadFrame(p));
    EXPECT_EQ(reader.Error(), "truncated frame");
    std::remove(path.c_str());

    Y4mReader missing;
    EXPECT_NE(missing.Open(path + ".none"), "");
    EXPECT_FALSE(missing.ReadFrame(p));
}

TEST(HostFrames, Yuy2PacksPairsAndRgb24IsBottomUp)
{
    const Picture p = RandomPicture(6, 3, 7, true);
    std::vector<uint8_t> yuy2(FrameBytes(LayoutYUY2, 6, 3));
    PictureToFrame(p, LayoutYUY2, yuy2.data());
    EXPECT_EQ(yuy2[0], p.y[0]);
    EXPECT_EQ(yuy2[1], p.u[0]);
    EXPECT_EQ(yuy2[2], p.y[1]);
    EXPECT_EQ(yuy2[3], p.v[0]);
    Picture back;
    FrameToPicture(yuy2.data(), LayoutYUY2, 6, 3, back);
    EXPECT_EQ(back.y, p.y);
    EXPECT_EQ(back.u, p.u);
    EXPECT_EQ(back.v, p.v);

    // RGB24: the buffer starts with the bottom line; white stays white.
    Picture white;
    white.Resize(4, 2);
    std::fill(white.y.begin(), white.y.begin() + 4, 255);  // top line white, bottom line black
    std::vector<uint8_t> rgb(FrameBytes(LayoutRGB24, 4, 2));
    PictureToFrame(white, LayoutRGB24, rgb.data());
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(rgb[i], 0) << i;
        EXPECT_EQ(rgb[12 + i], 255) << i;
    }
}

TEST(HostFrames, OddYuy2WidthStaysInsideTheBuffer)
{
    Picture p = RandomPicture(5, 2, 3, false);
    std::vector<uint8_t> frame(FrameBytes(LayoutYUY2, 5, 2) + 8, 0xEE);
    PictureToFrame(p, LayoutYUY2, frame.data());
    for (size_t i = FrameBytes(LayoutYUY2, 5, 2); i < frame.size(); ++i)
        EXPECT_EQ(frame[i], 0xEE);
    Picture back;
    FrameToPicture(frame.data(), LayoutYUY2, 5, 2, back);
    EXPECT_EQ(back.y, p.y);
}

TEST(HostSnapshots, PngChunksAndPixels)
{
    Picture p;
    p.Resize(3, 2);
    RgbToYuv(255, 0, 0, p.y[0], p.u[0], p.v[0]);
    const std::vector<uint8_t> png = EncodePng(p);
    ASSERT_GT(png.size(), 8u + 25 + 12);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    // IHDR: 3 x 2, 8-bit RGB.
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(png[19], 3);
    EXPECT_EQ(png[23], 2);
    EXPECT_EQ(png[24], 8);
    EXPECT_EQ(png[25], 2);
    // IDAT holds one stored block: zlib header, block header, raw scanlines.
    const size_t idat = 8 + 25;
    EXPECT_EQ(std::string(png.begin() + idat + 4, png.begin() + idat + 8), "IDAT");
    const uint8_t* raw = png.data() + idat + 8 + 2 + 5;
    EXPECT_EQ(raw[0], 0);  // filter byte
    EXPECT_GE(raw[1], 250);  // red, after the round trip through Y'CbCr
    EXPECT_LE(raw[2], 3);
    EXPECT_LE(raw[3], 3);

    const std::vector<uint8_t> bmp = EncodeBmp(p);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp.size(), 54u + 2 * 12);  // lines padded to 4 bytes
    // Bottom-up: the red pixel (top-left) starts the second stored line.
    EXPECT_GE(bmp[54 + 12 + 2], 250);
}

TEST(HostOptions, ParsingAndErrors)
{
    HostOptions o;
    EXPECT_EQ(ParseHostOptions({"--width", "1920", "--height", "1080", "--layout", "rgb24", "--processor", "2",
                                "Horavel.dll"},
                               o),
              "");
    EXPECT_EQ(o.width, 1920);
    EXPECT_EQ(o.layout, 1);
    EXPECT_EQ(o.processor, 2);
    EXPECT_EQ(o.plugin, "Horavel.dll");

    auto error = [](std::vector<std::string> args) {
        HostOptions fresh;
        return ParseHostOptions(args, fresh);
    };
    EXPECT_EQ(error({"--frobnicate", "x.dll"}), "unknown option: --frobnicate");
    EXPECT_NE(error({"x.dll", "--width"}), "");
    EXPECT_NE(error({"--width", "12a", "x.dll"}), "");
    EXPECT_NE(error({"--layout", "nv12", "x.dll"}), "");
    EXPECT_NE(error({}), "");
    EXPECT_NE(error({"a.dll", "b.dll"}), "");
}

} // namespace
} // namespace norvale
