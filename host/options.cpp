#include "host/options.h"

#include <cerrno>
#include <cstdlib>

namespace norvale {

namespace {

bool ToInt(const std::string& text, int& value, int low, int high)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

const char* HostUsage()
{
    return "usage: norvale-host [options] PLUGIN.dll\n"
           "  --width N, --height N   frame size (default 720 x 576; an input file sets its own)\n"
           "  --layout yuy2|rgb24|N   pixel layout of the stream (default yuy2)\n"
           "  --processor N           processor code given to start (default 0; 1 and 2 mean no SSE)\n"
           "  --frames N              frames to process (default 100, or the whole input;\n"
           "                          with --interactive: close the window after N frames)\n"
           "  --fps N                 frame rate (default 25)\n"
           "  --realtime              pace the frames at the frame rate\n"
           "  --input FILE.y4m        frames from a Y4M file (8-bit 4:2:0, 4:2:2 or 4:4:4)\n"
           "  --output FILE.y4m       write the processed frames\n"
           "  --snapshot FILE.png|bmp write one processed frame as a picture\n"
           "  --snapshot-frame N      which frame (default the last)\n"
           "  --settings              call the settings callback once, without a parent window\n"
           "                          (with --interactive: over the window, after the first frame)\n"
           "  --interactive           play in a window; its menu or F2 opens the plug-in's settings dialog\n"
           "  --bench                 time the process calls and print medians\n"
           "  --verbose               print the result of every process call\n";
}

std::string ParseHostOptions(const std::vector<std::string>& args, HostOptions& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h" || a == "/?") {
            o.help = true;
        } else if (a == "--width" || a == "--height" || a == "--frames" || a == "--fps" || a == "--processor" ||
                   a == "--snapshot-frame") {
            if (!value(v))
                return a + " needs a value";
            int n = 0;
            const bool signedOk = a == "--processor" ? ToInt(v, n, -2147483647, 2147483647) : ToInt(v, n, 0, 1 << 20);
            if (!signedOk)
                return "bad value for " + a + ": " + v;
            if (a == "--width") o.width = n;
            else if (a == "--height") o.height = n;
            else if (a == "--frames") o.frames = n;
            else if (a == "--fps") o.fps = n > 0 ? n : 25;
            else if (a == "--processor") o.processor = n;
            else o.snapshotFrame = n;
        } else if (a == "--layout") {
            if (!value(v))
                return "--layout needs a value";
            if (v == "yuy2" || v == "YUY2") o.layout = 0;
            else if (v == "rgb24" || v == "RGB24") o.layout = 1;
            else if (!ToInt(v, o.layout, -2147483647, 2147483647))
                return "bad layout: " + v + " (yuy2, rgb24 or a number)";
        } else if (a == "--input" || a == "--output" || a == "--snapshot") {
            if (!value(v))
                return a + " needs a file name";
            (a == "--input" ? o.input : a == "--output" ? o.output : o.snapshot) = v;
        } else if (a == "--realtime") {
            o.realtime = true;
        } else if (a == "--settings") {
            o.openSettings = true;
        } else if (a == "--interactive") {
            o.interactive = true;
        } else if (a == "--bench") {
            o.bench = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            return "unknown option: " + a;
        } else if (o.plugin.empty()) {
            o.plugin = a;
        } else {
            return "more than one plug-in given: " + a;
        }
    }
    if (o.plugin.empty() && !o.help)
        return "no plug-in DLL given";
    return {};
}

} // namespace norvale
