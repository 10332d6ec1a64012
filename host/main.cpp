// norvale-host: the reference host. Loads a plug-in DLL, checks its version,
// reads its record and drives it through a stream: init, start, process for
// every frame, stop, deinit. Frames come from a moving test pattern or a Y4M
// file; processed frames can be written to a Y4M file and one of them to a
// PNG or BMP picture. Every callback's result is printed.

#include "host/interactive.h"
#include "host/media.h"
#include "host/options.h"
#include "host/plugin_host.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace norvale {

namespace {

std::string Cp1251ToUtf8(const char* text)
{
    if (!text)
        return "(null)";
    const int wn = MultiByteToWideChar(1251, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wn > 0 ? wn : 1), L'\0');
    MultiByteToWideChar(1251, 0, text, -1, wide.data(), wn);
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    utf8.resize(std::strlen(utf8.c_str()));
    return utf8;
}

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "norvale-host: %s\n", message.c_str());
    return 2;
}

// Times process calls that reuse the prepared clock, and calls right after a
// start, which re-render it (the once-a-second case).
void RunBench(const horavel::PluginRecord& plugin, horavel::FrameDescriptor& descriptor, std::vector<uint8_t>& frame)
{
    horavel::FrameRecord record{frame.data()};
    std::vector<double> steady, rerender;
    LARGE_INTEGER t0, t1;
    for (int round = 0; round < 21; ++round) {
        plugin.start(&descriptor);
        QueryPerformanceCounter(&t0);
        plugin.process(&record);
        QueryPerformanceCounter(&t1);
        rerender.push_back(Microseconds(t0, t1));
        // The steady calls after it; a second boundary among them shows up
        // as an outlier that the median ignores.
        for (int i = 0; i < 50; ++i) {
            QueryPerformanceCounter(&t0);
            plugin.process(&record);
            QueryPerformanceCounter(&t1);
            steady.push_back(Microseconds(t0, t1));
        }
    }
    std::printf("bench %dx%d layout %d: process without re-render median %.1f us over %zu calls; "
                "with re-render median %.1f us over %zu calls\n",
                descriptor.width, descriptor.height, descriptor.layout, Median(steady), steady.size(), Median(rerender),
                rerender.size());
}

int RunBatch(const HostOptions& options)
{
    LoadedPlugin plugin;
    if (std::string error = plugin.Load(options.plugin); !error.empty())
        return Fail(error);
    const horavel::PluginRecord& record = plugin.Record();
    std::printf("loaded %s: interface version %d, name \"%s\", description \"%s\"\n", options.plugin.c_str(),
                plugin.Version(), Cp1251ToUtf8(record.name).c_str(), Cp1251ToUtf8(record.description).c_str());

    Y4mReader reader;
    int width = options.width, height = options.height, fps = options.fps;
    if (!options.input.empty()) {
        if (std::string error = reader.Open(options.input); !error.empty())
            return Fail(error);
        width = reader.Header().width;
        height = reader.Header().height;
        fps = std::max(1, reader.Header().fpsNum / std::max(1, reader.Header().fpsDen));
    }
    const FrameLayout layout = options.layout == 1 ? LayoutRGB24 : LayoutYUY2;
    const size_t frameBytes = FrameBytes(layout, width, height);
    std::vector<uint8_t> frame(std::max<size_t>(frameBytes, 1));
    Picture picture;
    picture.Resize(width, height);

    Y4mWriter writer;
    if (!options.output.empty()) {
        const Chroma chroma = layout == LayoutYUY2 ? Chroma::C422 : Chroma::C444;
        if (std::string error = writer.Open(options.output, width, height, fps, chroma); !error.empty())
            return Fail(error);
    }

    record.init();
    std::printf("init()\n");
    horavel::FrameDescriptor descriptor{width, height, static_cast<uint32_t>(frameBytes), options.layout,
                                        options.processor};
    std::printf("start(%d x %d, layout %d, processor %d) -> %d\n", width, height, options.layout, options.processor,
                record.start(&descriptor));
    if (options.openSettings) {
        HWND parent = nullptr;
        record.settings(reinterpret_cast<void**>(&parent));
        std::printf("settings()\n");
    }

    if (options.bench) {
        DrawTestPattern(0, picture);
        PictureToFrame(picture, layout, frame.data());
        RunBench(record, descriptor, frame);
    } else {
        const int total = options.frames >= 0 ? options.frames : options.input.empty() ? 100 : 1 << 30;
        int snapshotAt = options.snapshotFrame >= 0 ? options.snapshotFrame : total - 1;
        int drawn = 0, processed = 0;
        Picture snapshot;
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        for (int n = 0; n < total; ++n) {
            if (!options.input.empty()) {
                if (!reader.ReadFrame(picture)) {
                    if (!reader.Error().empty())
                        std::fprintf(stderr, "norvale-host: %s: frame %d: %s\n", options.input.c_str(), n,
                                     reader.Error().c_str());
                    break;
                }
            } else {
                DrawTestPattern(n, picture);
            }
            PictureToFrame(picture, layout, frame.data());
            if (options.realtime) {
                for (;;) {
                    QueryPerformanceCounter(&now);
                    const double due = 1e6 * n / fps - Microseconds(start, now);
                    if (due <= 0)
                        break;
                    Sleep(static_cast<DWORD>(std::max(1.0, due / 1000)));
                }
            }
            horavel::FrameRecord frameRecord{frame.data()};
            const int result = record.process(&frameRecord);
            drawn += result == 1;
            ++processed;
            if (options.verbose)
                std::printf("process(frame %d) -> %d\n", n, result);
            if (!options.output.empty() || n == snapshotAt) {
                FrameToPicture(frame.data(), layout, width, height, picture);
                if (!options.output.empty() && !writer.WriteFrame(picture))
                    return Fail("cannot write " + options.output);
                if (n == snapshotAt)
                    snapshot = picture;
            }
        }
        std::printf("process: %d frames, %d drawn on (returned 1), %d left untouched (returned 0)\n", processed, drawn,
                    processed - drawn);
        // "The last frame" of an input file is known only at its end: the
        // frame buffer still holds it.
        if (options.snapshotFrame < 0 && processed > 0 && processed < total) {
            FrameToPicture(frame.data(), layout, width, height, snapshot);
            snapshotAt = processed - 1;
        }
        if (!options.snapshot.empty()) {
            if (snapshot.width == 0)
                return Fail("no frame " + std::to_string(snapshotAt) + " to take a snapshot of");
            if (std::string error = WriteSnapshot(options.snapshot, snapshot); !error.empty())
                return Fail(error);
            std::printf("snapshot of frame %d written to %s\n", snapshotAt, options.snapshot.c_str());
        }
    }
    record.stop();
    std::printf("stop()\n");
    record.deinit();
    std::printf("deinit()\n");
    if (!writer.Close())
        return Fail("cannot finish " + options.output);
    plugin.Unload();
    return 0;
}

} // namespace

} // namespace norvale

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    norvale::HostOptions options;
    if (std::string error = norvale::ParseHostOptions(args, options); !error.empty()) {
        std::fprintf(stderr, "norvale-host: %s\n%s", error.c_str(), norvale::HostUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(norvale::HostUsage(), stdout);
        return 0;
    }
    try {
        return options.interactive ? norvale::RunInteractive(options) : norvale::RunBatch(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "norvale-host: %s\n", e.what());
        return 3;
    }
}
