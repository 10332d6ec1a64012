// Command line of the reference host.
#pragma once

#include <string>
#include <vector>

namespace norvale {

struct HostOptions {
    std::string plugin;            // path of the plug-in DLL
    int width = 720;
    int height = 576;
    int layout = 0;                // 0 YUY2, 1 RGB24 (other codes are passed on as given)
    int processor = 0;             // processor code of the descriptor
    int frames = -1;               // -1: 100 for the pattern, all of an input file
    int fps = 25;
    bool realtime = false;         // pace the frames at fps
    std::string input;             // Y4M file, or empty for the test pattern
    std::string output;            // Y4M file of the processed frames
    std::string snapshot;          // PNG or BMP of one processed frame
    int snapshotFrame = -1;        // -1: the last frame
    bool openSettings = false;     // call the settings callback once (no parent window)
    bool interactive = false;      // play in a window with a settings menu
    bool bench = false;            // time the process calls
    bool verbose = false;          // print every process result
    bool help = false;
};

// Error message, empty on success.
std::string ParseHostOptions(const std::vector<std::string>& args, HostOptions& options);

const char* HostUsage();

} // namespace norvale
