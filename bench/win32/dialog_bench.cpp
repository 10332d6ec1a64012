// dialog_bench: how long the host's UI thread is held when the real
// Horavel.dll opens its settings dialog, for formats of growing length up to
// one megabyte (the goal: under 100 ms whatever the profile holds). The time
// runs from the `settings` call until the dialog has handled its first
// refresh (which fills every field) and painted; "of it created" is the
// share spent in the `settings` call itself. Needs a display:
//   xvfb-run -a wine dialog_bench.exe -inst:e [--rounds N]
// With "-inst:e" the DLL reads Instances\e\Plugins\Horavel.ini beside this
// program, which the bench writes. Prints medians in milliseconds and their
// ratio to the budget, all from one run.

#include "bench/win32/bench_support.h"
#include "core/plugin_record.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace horavel;

constexpr double kBudgetMs = 100;
constexpr int kFormatFieldId = 5113;
constexpr int kOkButtonId = 5002;
constexpr UINT kRefreshedMarker = WM_APP + 1;

void WriteProfile(const std::string& format)
{
    bench::WriteInstanceProfile('e', "Horavel.dll", "Format=" + format + "\r\n");
}

// Runs the thread's messages until the marker posted to `host` arrives.
bool PumpUntilMarker(HWND host)
{
    const DWORD end = GetTickCount() + 600000;
    MSG msg;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        if (msg.hwnd == host && msg.message == kRefreshedMarker)
            return true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return false;
}

void PumpFor(int milliseconds)
{
    const DWORD end = GetTickCount() + milliseconds;
    MSG msg;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

HWND FindSettingsDialog()
{
    return FindWindowW(L"#32770", L"Horavel плагин");
}

// One module lifetime: the time of one opening of the dialog, or a negative
// number when it did not open.
double TimeOneOpening(HWND host, size_t* fieldLength, double* creationMs)
{
    HMODULE dll = LoadLibraryA("Horavel.dll");
    auto get = dll ? reinterpret_cast<RecordExport>(reinterpret_cast<void*>(GetProcAddress(dll, kRecordExportName)))
                   : nullptr;
    const PluginRecord* record = get ? get() : nullptr;
    if (!record) {
        std::fprintf(stderr, "cannot load Horavel.dll\n");
        std::exit(1);
    }
    record->init();
    void* parent = host;
    LARGE_INTEGER start, created, end;
    QueryPerformanceCounter(&start);
    record->settings(&parent);
    QueryPerformanceCounter(&created);
    // Posted after the dialog's own first refresh, so it arrives after it.
    PostMessageW(host, kRefreshedMarker, 0, 0);
    const bool refreshed = PumpUntilMarker(host);
    HWND dialog = FindSettingsDialog();
    if (dialog)
        UpdateWindow(dialog);
    QueryPerformanceCounter(&end);
    double ms = -1;
    if (refreshed && dialog) {
        ms = bench::CounterMicroseconds(start, end) / 1000;
        *creationMs = bench::CounterMicroseconds(start, created) / 1000;
        *fieldLength = static_cast<size_t>(GetWindowTextLengthW(GetDlgItem(dialog, kFormatFieldId)));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kOkButtonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kOkButtonId)));
    }
    PumpFor(50);
    record->deinit();
    FreeLibrary(dll);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 640, 480,
                                nullptr, nullptr, nullptr, nullptr);
    PumpFor(300);
    // The first dialog of a process pays for loading the rich edit and
    // common controls libraries; it is not counted.
    {
        WriteProfile("%H");
        size_t fieldLength = 0;
        double creation = 0;
        TimeOneOpening(host, &fieldLength, &creation);
    }

    std::printf("%-24s %12s %10s %14s %12s\n", "Format", "open (ms)", "/ budget", "of it created", "field chars");
    for (size_t repeats : {size_t{4}, size_t{5000}, size_t{50000}, size_t{1} << 19}) {
        std::string format;
        for (size_t i = 0; i < repeats; ++i)
            format += "%H";
        WriteProfile(format);
        std::vector<double> times, creations;
        size_t fieldLength = 0;
        for (int round = 0; round < rounds; ++round) {
            double creation = 0;
            const double ms = TimeOneOpening(host, &fieldLength, &creation);
            creations.push_back(creation);
            if (ms < 0) {
                std::fprintf(stderr, "the dialog did not open\n");
                return 1;
            }
            times.push_back(ms);
        }
        const double median = bench::Median(times);
        char label[64];
        std::snprintf(label, sizeof label, "\"%%H\" x %zu (%zu B)", repeats, format.size());
        std::printf("%-24s %12.1f %10.3f %14.1f %12zu\n", label, median, median / kBudgetMs, bench::Median(creations),
                    fieldLength);
        std::fflush(stdout);
    }
    DestroyWindow(host);
    return 0;
}
