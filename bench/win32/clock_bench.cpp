// clock_bench: times the real Horavel.dll's `process` callback, loaded and
// driven through its exports like a host does, for the clock's speed goals:
//   - a frame that reuses the prepared clock, 720 x 576, default clock;
//   - the same at 3840 x 2160 with a clock 40 % of the frame wide;
//   - a frame that re-renders the clock (once a second), 3840 x 2160;
//     such frames are found by watching the calendar second change;
//   - the same with formats of 100000 characters and of 1 MB.
//   - with "--font N --width W --height H": only the frames of one font size
//     on one frame size (for huge clocks, larger than the frame).
// Run it with "-inst:b": the DLL then reads its settings from
// Instances\b\Plugins\Horavel.ini beside this program, which the bench writes
// to choose the font size. Prints medians in microseconds and their ratio to
// the budget, all from one run.

#include "bench/win32/bench_support.h"
#include "core/plugin_record.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using namespace horavel;

// The profile the DLL reads at `init` when this program runs with -inst:b.
void WriteProfile(int32_t fontSize, const std::string& format = {})
{
    std::string lines = "StringPosX=300\r\nStringPosY=400\r\nFontSize=" + std::to_string(fontSize) + "\r\n";
    if (!format.empty())
        lines += "Format=" + format + "\r\n";
    bench::WriteInstanceProfile('b', "Horavel.dll", lines);
}

class Plugin {
public:
    bool Load()
    {
        m_dll = LoadLibraryA("Horavel.dll");
        if (!m_dll)
            return false;
        const auto get =
            reinterpret_cast<RecordExport>(reinterpret_cast<void*>(GetProcAddress(m_dll, kRecordExportName)));
        m_record = get ? get() : nullptr;
        if (!m_record)
            return false;
        m_record->init();
        return true;
    }
    void Unload()
    {
        if (m_record)
            m_record->deinit();
        if (m_dll)
            FreeLibrary(m_dll);
        m_dll = nullptr;
        m_record = nullptr;
    }
    const PluginRecord& operator*() const { return *m_record; }
    const PluginRecord* operator->() const { return m_record; }

private:
    HMODULE m_dll = nullptr;
    const PluginRecord* m_record = nullptr;
};

struct Frame {
    int32_t width, height, layout;
    std::vector<uint8_t> bytes;
    Frame(int32_t w, int32_t h, int32_t l) : width(w), height(h), layout(l)
    {
        bytes.resize(size_t(w) * size_t(h) * (l == 0 ? 2 : 3));
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(32 + (i * 13 + i / 4096) % 190);
    }
    size_t LineBytes() const { return size_t(width) * (layout == 0 ? 2 : 3); }
};

// Share of the frame width that one processed frame changed.
double ClockWidthShare(const PluginRecord& plugin, int32_t w, int32_t h, int32_t layout)
{
    FrameDescriptor descriptor{w, h, 0, layout, 0};
    Frame frame(w, h, layout);
    const Frame before = frame;
    FrameRecord record{frame.bytes.data()};
    plugin.start(&descriptor);
    plugin.process(&record);
    const size_t pixelBytes = layout == 0 ? 2 : 3;
    size_t left = frame.LineBytes(), right = 0;
    for (size_t i = 0; i < frame.bytes.size(); ++i)
        if (frame.bytes[i] != before.bytes[i]) {
            const size_t column = i % frame.LineBytes();
            left = std::min(left, column);
            right = std::max(right, column + 1);
        }
    return right > left ? double(right - left) / double(pixelBytes) / double(w) : 0.0;
}

struct Timing {
    double steady;      // median of process calls that reuse the prepared clock
    double rerender;    // median of the calls that re-render at a second boundary
    double afterStart;  // median of the first call after a start (new font too)
};

// Waits, without processing, until the calendar second changes; the next
// process call then re-renders the clock. Until 0.8 s after that, calls
// reuse the clock; then the next boundary is awaited the same way, so no
// timed call can straddle a boundary.
Timing TimeProcess(const PluginRecord& plugin, int32_t w, int32_t h, int32_t layout, int seconds)
{
    FrameDescriptor descriptor{w, h, 0, layout, 0};
    Frame frame(w, h, layout);
    FrameRecord record{frame.bytes.data()};
    std::vector<double> steady, rerender, afterStart;
    LARGE_INTEGER t0, t1;
    for (int round = 0; round < 9; ++round) {
        plugin.start(&descriptor);
        QueryPerformanceCounter(&t0);
        plugin.process(&record);
        QueryPerformanceCounter(&t1);
        afterStart.push_back(bench::CounterMicroseconds(t0, t1));
    }
    for (int second = 0; second < seconds; ++second) {
        const std::time_t now = std::time(nullptr);
        while (std::time(nullptr) == now) {
        }
        LARGE_INTEGER boundary;
        QueryPerformanceCounter(&boundary);
        QueryPerformanceCounter(&t0);
        plugin.process(&record);
        QueryPerformanceCounter(&t1);
        rerender.push_back(bench::CounterMicroseconds(t0, t1));
        for (;;) {
            QueryPerformanceCounter(&t0);
            if (bench::CounterMicroseconds(boundary, t0) > 800000)
                break;
            plugin.process(&record);
            QueryPerformanceCounter(&t1);
            steady.push_back(bench::CounterMicroseconds(t0, t1));
        }
    }
    return {bench::Median(steady), bench::Median(rerender), bench::Median(afterStart)};
}

void Report(const char* what, double median, double budget)
{
    std::printf("  %-44s median %9.1f us   budget %7.0f us   ratio %.3f%s\n", what, median, budget, median / budget,
                median <= budget ? "" : "   OVER BUDGET");
}

} // namespace

// One font size on one frame size, both layouts.
int TimeOneClock(int32_t fontSize, int32_t width, int32_t height, int seconds)
{
    WriteProfile(fontSize);
    Plugin plugin;
    if (!plugin.Load()) {
        std::fprintf(stderr, "cannot load Horavel.dll beside this program\n");
        return 1;
    }
    const char* layoutName[] = {"YUY2", "RGB24"};
    for (int32_t layout : {0, 1}) {
        const Timing t = TimeProcess(*plugin, width, height, layout, seconds);
        std::printf("%d x %d %s, FontSize %d:\n", width, height, layoutName[layout], fontSize);
        std::printf("  process without re-render                    median %10.1f us\n", t.steady);
        std::printf("  process re-rendering at a second boundary    median %10.1f us\n", t.rerender);
        std::printf("  first process after start (new font)         median %10.1f us\n", t.afterStart);
    }
    plugin.Unload();
    return 0;
}

int main(int argc, char** argv)
{
    if (!std::strstr(GetCommandLineA(), "-inst:b")) {
        std::fprintf(stderr, "run as: clock_bench.exe -inst:b [--font N --width W --height H [--seconds S]]\n"
                             "(-inst:b: the DLL's profile folder for the bench)\n");
        return 2;
    }
    int32_t font = 0, width = 0, height = 0, seconds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--font"))
            font = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--width"))
            width = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--height"))
            height = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[++i]);
    }
    if (font != 0 && width > 0 && height > 0)
        return TimeOneClock(font, width, height, seconds);
    const char* layoutName[] = {"YUY2", "RGB24"};

    // The default clock.
    WriteProfile(-34);
    Plugin plugin;
    if (!plugin.Load()) {
        std::fprintf(stderr, "cannot load Horavel.dll beside this program\n");
        return 1;
    }
    std::vector<std::pair<std::string, Timing>> results;
    const double defaultShare = ClockWidthShare(*plugin, 3840, 2160, 0);
    for (int32_t layout : {0, 1}) {
        const double share = ClockWidthShare(*plugin, 720, 576, layout);
        const Timing t = TimeProcess(*plugin, 720, 576, layout, 3);
        std::printf("720 x 576 %s, default clock (%.1f %% of the width):\n", layoutName[layout], 100 * share);
        Report("process without re-render", t.steady, 20);
        Report("process re-rendering at a second boundary", t.rerender, 2000);
        Report("first process after start (new font)", t.afterStart, 2000);
    }
    plugin.Unload();

    // A clock 40 % of the frame wide: scale the font from the default's share.
    const int32_t fontSize = -static_cast<int32_t>(34 * 0.40 / defaultShare + 0.5);
    WriteProfile(fontSize);
    if (!plugin.Load())
        return 1;
    for (int32_t layout : {0, 1}) {
        const double share = ClockWidthShare(*plugin, 3840, 2160, layout);
        const Timing t = TimeProcess(*plugin, 3840, 2160, layout, 5);
        std::printf("3840 x 2160 %s, clock %.1f %% of the width (FontSize %d):\n", layoutName[layout], 100 * share,
                    fontSize);
        Report("process without re-render", t.steady, 200);
        Report("process re-rendering at a second boundary", t.rerender, 2000);
        Report("first process after start (new font)", t.afterStart, 2000);
    }
    plugin.Unload();

    // Long formats (a paste gone wrong): the first process after `init`
    // makes the format ready, later re-renders reuse it.
    std::string pairs;
    for (int i = 0; i < 50000; ++i)
        pairs += "% ";
    const std::pair<const char*, std::string> formats[] = {
        {"100000 characters of \"% \"", pairs},
        {"1 MB of \"% \"", [&] {
             std::string text;
             for (int i = 0; i < 10; ++i)
                 text += pairs;
             return text;
         }()},
        {"1 MB of \"%p\"", [&] {
             std::string text(pairs);
             for (size_t i = 1; i < text.size(); i += 2)
                 text[i] = 'p';
             text += text;
             std::string mb;
             while (mb.size() < 1000000)
                 mb += text;
             return mb.substr(0, 1000000);
         }()},
    };
    for (const auto& [name, format] : formats) {
        WriteProfile(-34, format);
        if (!plugin.Load())
            return 1;
        FrameDescriptor descriptor{720, 576, 0, 0, 0};
        Frame frame(720, 576, 0);
        FrameRecord record{frame.bytes.data()};
        LARGE_INTEGER t0, t1;
        plugin->start(&descriptor);
        QueryPerformanceCounter(&t0);
        plugin->process(&record);
        QueryPerformanceCounter(&t1);
        const double first = bench::CounterMicroseconds(t0, t1);
        const Timing t = TimeProcess(*plugin, 720, 576, 0, 3);
        std::printf("720 x 576 YUY2, Format %s:\n", name);
        Report("first process after init (format made ready)", first, 10000);
        Report("process re-rendering at a second boundary", t.rerender, 10000);
        Report("first process after start (new font)", t.afterStart, 10000);
        plugin.Unload();
    }
    return 0;
}
