// What the Windows bench programs share: the median of a run, the
// performance counter in microseconds, and the profile that a bench started
// with -inst:<c> makes the DLL read at `init`.
#pragma once

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace horavel::bench {

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double CounterMicroseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) / frequency;
}

inline std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.erase(folder.find_last_of('\\') + 1);
}

// Writes Instances\<instance>\Plugins\<module name>.ini beside this program:
// a COMMON section holding `commonLines` (each ending in CR LF), which is
// where the DLL called `module` looks when the program runs with -inst:<instance>.
inline void WriteInstanceProfile(char instance, const std::string& module, const std::string& commonLines)
{
    const std::string instances = ProgramFolder() + "Instances\\";
    const std::string plugins = instances + instance + "\\Plugins\\";
    CreateDirectoryA(instances.c_str(), nullptr);
    CreateDirectoryA((instances + instance).c_str(), nullptr);
    CreateDirectoryA(plugins.c_str(), nullptr);
    const std::string name = module.substr(0, module.find_last_of('.'));
    std::ofstream profile(plugins + name + ".ini", std::ios::binary | std::ios::trunc);
    profile << "[COMMON]\r\n" << commonLines;
}

} // namespace horavel::bench
