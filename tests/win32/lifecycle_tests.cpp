// Horavel.dll through whole host lifetimes: thousands of load / unload cycles
// must give back every thread-local-storage index, and callbacks made in any
// order must leave the profile as it was.
//
// Run with "-inst:l" on the command line: the DLL then keeps its profile in
// Instances\l\Plugins\ beside this program, a folder of this test alone.
#include "core/plugin_record.h"
#include "test_host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using horavel::FrameDescriptor;
using horavel::FrameRecord;
using horavel::testing::InstanceProfilePath;
using horavel::testing::ReadWholeFile;
using horavel::testing::WriteWholeFile;
using Plugin = horavel::testing::PluginModule;

std::string ProfilePath() { return InstanceProfilePath('l'); }

// A profile as the plug-in writes it, with values other than the defaults:
// any save that keeps the settings writes exactly these bytes again.
constexpr char kProfile[] =
    "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n"
    "[COMMON]\r\nStringPosX=100\r\nStringPosY=200\r\nFontName=Arial\r\nFontSize=-50\r\n"
    "FontWeight=700\r\nFontItalic=0\r\nFontUnderline=1\r\nFontStrikeOut=0\r\nFontCharSet=1\r\n"
    "FontQuality=4\r\nTextColor=12632256\r\nBackColor=8388608\r\nTextOpacity=60\r\n"
    "BackOpacity=100\r\nShadowOffset=8\r\nFormat=%H:%M\r\n";

// The free TLS indices of this process, counted by taking them all.
int FreeTlsSlots()
{
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(index);
    for (DWORD index : taken)
        TlsFree(index);
    return static_cast<int>(taken.size());
}

// Committed private memory of this process (heaps and VirtualAlloc blocks,
// not mapped images), in bytes.
size_t CommittedPrivateBytes()
{
    size_t total = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (const char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;
         at = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += info.RegionSize;
    }
    return total;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteWholeFile(ProfilePath(), kProfile);
        m_host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr,
                                 nullptr, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_host);
        DeleteFileA(ProfilePath().c_str());
    }

    // One frame of YUY2 in a 64 x 48 stream; true when the plug-in drew on it.
    static bool ProcessFrame(Plugin& plugin)
    {
        std::vector<uint8_t> frame(64 * 48 * 2, 0x10);
        FrameRecord record{frame.data()};
        const int32_t drawn = plugin->process(&record);
        return drawn == 1 && frame != std::vector<uint8_t>(64 * 48 * 2, 0x10);
    }

    void Call(Plugin& plugin, char callback)
    {
        FrameDescriptor descriptor{64, 48, 0, 0, 0};
        void* parent = m_host;
        switch (callback) {
        case 'I': plugin->init(); break;
        case 'S': plugin->start(&descriptor); break;
        case 'P': ProcessFrame(plugin); break;
        case 'T': plugin->stop(); break;
        case 'G': plugin->settings(&parent); break;
        case 'D': plugin->deinit(); break;
        }
    }

    HWND m_host = nullptr;
};

// Each cycle a whole session: load, init, start, a frame, the dialog opened
// (where there is a display; every tenth cycle), deinit, unload. Neither TLS indices nor
// memory may be left behind per cycle.
TEST_F(Lifecycle, ThousandsOfLoadsGiveBackTlsIndicesAndMemory)
{
    constexpr int kCycles = 5000;
    int tlsAfterFirst = 0;
    size_t memoryAfterFirst = 0, memoryAfter2000 = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        {
            Plugin plugin;
            ASSERT_TRUE(plugin.Loaded()) << "cycle " << cycle << ", error " << GetLastError();
            plugin->init();
            FrameDescriptor descriptor{64, 48, 0, 0, 0};
            ASSERT_EQ(plugin->start(&descriptor), 1);
            ASSERT_TRUE(ProcessFrame(plugin)) << "cycle " << cycle;
            // The dialog costs a tenth of a second under Wine: every tenth cycle.
            if (m_host && cycle % 10 == 0)
                Call(plugin, 'G');
            PumpMessages();
            plugin->stop();
            plugin->deinit();
        }
        PumpMessages();
        if (cycle == 0) {
            tlsAfterFirst = FreeTlsSlots();
            memoryAfterFirst = CommittedPrivateBytes();
        } else if (cycle % 500 == 0) {
            ASSERT_EQ(FreeTlsSlots(), tlsAfterFirst) << "after " << cycle + 1 << " cycles";
        }
        if (cycle + 1 == 2000)
            memoryAfter2000 = CommittedPrivateBytes();
    }
    const int tlsAtEnd = FreeTlsSlots();
    const size_t memoryAtEnd = CommittedPrivateBytes();
    std::printf("after the first cycle: %d free TLS indices, %zu KiB committed; after 2000 cycles: %zu KiB; "
                "after %d cycles: %d, %zu KiB%s\n",
                tlsAfterFirst, memoryAfterFirst / 1024, memoryAfter2000 / 1024, kCycles, tlsAtEnd,
                memoryAtEnd / 1024, m_host ? "" : " (no display: no dialog)");
    EXPECT_EQ(tlsAtEnd, tlsAfterFirst);
    EXPECT_LT(memoryAfter2000, memoryAfterFirst + (1u << 20));
    EXPECT_LT(memoryAtEnd, memoryAfterFirst + (1u << 20));
    // The dialog records where it stood: the settings are what must stay.
    const std::string after = ReadWholeFile(ProfilePath());
    const std::string expected = kProfile;
    EXPECT_EQ(after.substr(std::min(after.size(), after.find("[COMMON]"))), expected.substr(expected.find("[COMMON]")));
}

// Every pair and triple of callbacks, made on a freshly loaded module before
// the host ends it with `deinit`: the profile keeps its bytes, and a session
// started afterwards draws with the profile's settings.
TEST_F(Lifecycle, CallbacksInAnyOrderLeaveTheProfileAsItWas)
{
    const std::string alphabet = "ISPTGD";
    std::vector<std::string> sequences;
    for (char a : alphabet)
        for (char b : alphabet) {
            sequences.push_back({a, b});
            for (char c : alphabet)
                sequences.push_back({a, b, c});
        }
    // The sequence seen to wipe the settings, in full.
    sequences.push_back("DISPPPD");

    int failures = 0;
    for (const std::string& sequence : sequences) {
        WriteWholeFile(ProfilePath(), kProfile);
        {
            Plugin plugin;
            ASSERT_TRUE(plugin.Loaded());
            for (char callback : sequence)
                Call(plugin, callback);
            // What the host does next: a proper session to its end.
            Call(plugin, 'I');
            Call(plugin, 'S');
            const bool drawn = ProcessFrame(plugin);
            Call(plugin, 'D');
            EXPECT_TRUE(drawn) << sequence;
        }
        // A dialog opened in a loaded session records where it stood when it
        // closed: the user moved it, so only the settings must stay.
        const bool dialogOpened = sequence.find('G') != std::string::npos;
        std::string after = ReadWholeFile(ProfilePath());
        std::string expected = kProfile;
        if (dialogOpened) {
            after.erase(0, after.find("[COMMON]"));
            expected.erase(0, expected.find("[COMMON]"));
        }
        if (after != expected && ++failures <= 5)
            ADD_FAILURE() << "after " << sequence << " the profile holds\n" << after;
        // A new module lifetime reads the same settings again.
        {
            Plugin plugin;
            Call(plugin, 'I');
            Call(plugin, 'D');
        }
        if (!dialogOpened) {
            EXPECT_EQ(ReadWholeFile(ProfilePath()), kProfile) << sequence << ", then a plain session";
        }
    }
    EXPECT_EQ(failures, 0) << "of " << sequences.size() << " sequences";
}

} // namespace
