// Memory the DLL commits for clocks far larger than the frame: loaded as a
// host loads it (its own profile folder through "-inst:m"), a few frames
// processed, the process's committed memory measured before and after. The
// planes and the scaled copy follow what the frame shows of the clock, so the
// growth stays within a small multiple of the frame's own bytes plus a fixed
// allowance for the runtime and GDI's glyph cache. Alone in its process, so
// that nothing else the tests allocate is counted.
#include "test_host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace horavel {
namespace {

// Committed memory of the process that is not a mapped executable image:
// what the plug-in's blocks, DIB sections and GDI's caches cost. Walked with
// VirtualQuery, which Wine answers as Windows does (its
// GetProcessMemoryInfo gives no private usage).
size_t PrivateBytes()
{
    size_t total = 0;
    MEMORY_BASIC_INFORMATION info{};
    const uint8_t* address = nullptr;
    while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_COMMIT && info.Type != MEM_IMAGE)
            total += info.RegionSize;
        const uint8_t* next = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

using namespace horavel::testing;

// The profile of "-inst:m": the clock where it shows, and `lines` after.
void WriteProfile(const std::string& lines)
{
    WriteWholeFile(InstanceProfilePath('m'), "[COMMON]\r\nStringPosX=100\r\nStringPosY=100\r\n" + lines);
}

struct Case {
    const char* name;
    const char* profile;
    int32_t width, height, layout;
};

// The settings the clock was seen to commit hundreds of megabytes for.
const Case kCases[] = {
    {"FontSize -2900 on 720 x 576", "FontSize=-2900\r\n", 720, 576, 0},
    {"ShadowOffset 10000 on 720 x 576", "ShadowOffset=10000\r\n", 720, 576, 0},
    {"FontSize -2000 on 1920 x 1080", "FontSize=-2000\r\n", 1920, 1080, 1},
    {"FontSize -2000 on 1920 x 1080 YUY2", "FontSize=-2000\r\n", 1920, 1080, 0},
};

TEST(ClockMemory, CommitFollowsTheFrameNotTheFont)
{
    ASSERT_TRUE(StartedWithInstance('m')) << "run with -inst:m";
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        WriteProfile(c.profile);
        const size_t frameBytes = size_t(c.width) * size_t(c.height) * (c.layout == 0 ? 2 : 3);
        std::vector<uint8_t> frame(frameBytes, 0x60);
        const size_t before = PrivateBytes();
        ASSERT_GT(before, 0u);

        const PluginModule record;
        ASSERT_TRUE(record.Loaded());
        record->init();
        FrameDescriptor descriptor{c.width, c.height, 0, c.layout, 0};
        ASSERT_EQ(record->start(&descriptor), 1);
        FrameRecord frameRecord{frame.data()};
        std::vector<uint8_t> untouched = frame;
        size_t peak = 0;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(record->process(&frameRecord), 1);
            peak = std::max(peak, PrivateBytes());
        }
        const size_t grown = peak > before ? peak - before : 0;
        std::printf("%-36s committed %7.1f MB more (frame %5.1f MB)\n", c.name, grown / 1048576.0,
                    frameBytes / 1048576.0);
        // The clock is drawn: its visible part is on the frame.
        EXPECT_NE(frame, untouched);
        // Copy <= 1.25^2 x 4 bytes a frame pixel; planes about as much for the
        // reference-frame-sized part they hold; 32 MB for the rest.
        EXPECT_LT(grown, 4 * frameBytes + (size_t{32} << 20));
        record->stop();
        record->deinit();
    }
}

} // namespace
} // namespace horavel
