// Feeds Horavel.dll a fixed series of frames at fixed moments of the wall
// clock and writes what it made of them, so that the 32-bit and the 64-bit
// DLL, run side by side in their own processes, can be compared byte for
// byte (scripts/check-widths).
//
//   width_frames.exe -inst:w START_MS OUTPUT
//
// START_MS is the moment, in milliseconds since 1970 UTC, of the first frame;
// every later frame has its own moment after it, so that both processes draw
// each frame in the same second. Several profiles, each loaded afresh, with
// both layouts, odd sizes and positions, and clocks larger than the frame;
// each profile's frames span more than two seconds, so its picture is
// rendered anew and updated in place. Each frame is written as the line
//   frame PROFILE INDEX WIDTH HEIGHT LAYOUT SECOND_BEFORE SECOND_AFTER BYTES
// followed by its bytes; the two seconds are read just before and just after
// the `process` call, and a frame whose two seconds differ may show either.
#include "test_host.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using horavel::FrameDescriptor;
using horavel::FrameRecord;
using namespace horavel::testing;

struct Case {
    const char* common;  // the profile's "COMMON" lines after the defaults
    int32_t width, height, layout;
};

const Case kCases[] = {
    {"", 720, 576, 0},
    {"StringPosX=333\r\nStringPosY=777\r\nFontSize=-60\r\nTextColor=65535\r\nBackColor=4210752\r\n"
     "TextOpacity=85\r\nBackOpacity=45\r\nShadowOffset=5\r\nFormat=%A, %d %B %Y  %H:%M:%S\r\n",
     1920, 1080, 1},
    {"StringPosX=997\r\nStringPosY=991\r\nFontSize=-20\r\nFontItalic=1\r\nTextOpacity=100\r\n"
     "BackOpacity=0\r\nShadowOffset=0\r\nFormat=%S %S\r\n",
     333, 251, 0},
    {"StringPosX=500\r\nFontSize=-120\r\nBackOpacity=100\r\nFormat=%H:%M:%S\r\n", 161, 121, 1},
    {"StringPosX=1\r\nStringPosY=1\r\nFontSize=-41\r\nFontWeight=400\r\nFontUnderline=0\r\n"
     "TextOpacity=100\r\nBackOpacity=100\r\nShadowOffset=13\r\nFormat=%#H:%M:%S %p\r\n",
     1281, 719, 0},
    {"StringPosX=40\r\nStringPosY=500\r\nFontSize=-34\r\nTextOpacity=1\r\nBackOpacity=99\r\n"
     "Format=%c\r\n",
     767, 577, 1},
};
constexpr int kFramesPerCase = 24;
constexpr int kStepMs = 97;  // 24 frames span 2.3 s, at ever other points of the second

uint64_t NowMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10000 - 11644473600000;
}

// The same bytes in both processes: xorshift from the frame's number.
void Fill(std::vector<uint8_t>& frame, uint32_t seed)
{
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& byte : frame) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x >> 7);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: width_frames -inst:w START_MS OUTPUT\n");
        return 2;
    }
    const uint64_t start = std::strtoull(argv[2], nullptr, 10);
    FILE* out = std::fopen(argv[3], "wb");
    if (!out)
        return 2;
    const std::string profile = InstanceProfilePath('w');
    int index = 0;
    for (int c = 0; c < int(std::size(kCases)); ++c) {
        const Case& k = kCases[c];
        WriteWholeFile(profile, std::string("[COMMON]\r\n") + k.common);
        PluginModule plugin;
        if (!plugin.Loaded()) {
            std::fprintf(stderr, "width_frames: Horavel.dll did not load\n");
            return 1;
        }
        plugin->init();
        FrameDescriptor descriptor{k.width, k.height, 0, k.layout, 0};
        plugin->start(&descriptor);
        std::vector<uint8_t> frame(size_t(k.width) * k.height * (k.layout == 0 ? 2 : 3));
        for (int f = 0; f < kFramesPerCase; ++f, ++index) {
            Fill(frame, uint32_t(index));
            const uint64_t due = start + uint64_t(index) * kStepMs;
            for (uint64_t now = NowMs(); now < due; now = NowMs())
                Sleep(static_cast<DWORD>(due - now > 2 ? due - now - 1 : 0));
            const uint64_t before = NowMs() / 1000;
            FrameRecord record{frame.data()};
            plugin->process(&record);
            const uint64_t after = NowMs() / 1000;
            std::fprintf(out, "frame %d %d %d %d %d %llu %llu %zu\n", c, f, k.width, k.height, k.layout,
                         static_cast<unsigned long long>(before), static_cast<unsigned long long>(after),
                         frame.size());
            std::fwrite(frame.data(), 1, frame.size(), out);
        }
        plugin->stop();
        plugin->deinit();
    }
    std::fclose(out);
    DeleteFileA(profile.c_str());
    return 0;
}
