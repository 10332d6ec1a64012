// Horavel.dll loaded the way a host loads it: by path, through its two
// exports, driving the six callbacks of its record.
#include "test_host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using horavel::FrameDescriptor;
using horavel::FrameRecord;
using horavel::PluginRecord;
using horavel::testing::PumpFor;
using horavel::testing::VisibleDialogOfThisThread;

// The DLL stays loaded for the whole program, as in a host: never freed.
HMODULE Plugin()
{
    static const auto* module = new horavel::testing::PluginModule;
    return module->Handle();
}

template <class Function>
Function Export(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(Plugin(), name)));
}

const PluginRecord* Record()
{
    auto get = Export<horavel::RecordExport>(horavel::kRecordExportName);
    return get ? get() : nullptr;
}

template <class T>
const T* At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module)
{
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    return At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
}

TEST(PluginExports, ExactlyTheTwoUndecoratedNames)
{
    HMODULE module = Plugin();
    ASSERT_NE(module, nullptr);
    const auto& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    auto exports = At<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
    std::set<std::string> names;
    auto nameRvas = At<DWORD>(module, exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(At<char>(module, nameRvas[i]));
    EXPECT_EQ(names, (std::set<std::string>{"Norvale_Plugin_PR", "Norvale_Plugin_Version"}));
    EXPECT_EQ(exports->NumberOfFunctions, 2u);
}

TEST(PluginExports, ImportsOnlySystemDlls)
{
    HMODULE module = Plugin();
    ASSERT_NE(module, nullptr);
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll",
                                          "comctl32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll",
                                          "ole32.dll", "riched32.dll"};
    const auto& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    int count = 0;
    for (auto d = At<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); d->Name != 0; ++d, ++count) {
        std::string name = At<char>(module, d->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
    EXPECT_GT(count, 0);
}

TEST(PluginExports, VersionAndRecord)
{
    auto version = Export<horavel::VersionExport>(horavel::kVersionExportName);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 3);

    const PluginRecord* first = Record();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Record(), first);
    // "OSD-часы" and "OSD-часы." in code page 1251.
    EXPECT_STREQ(first->name, "OSD-\xF7\xE0\xF1\xFB");
    EXPECT_STREQ(first->description, "OSD-\xF7\xE0\xF1\xFB.");
    for (auto callback : {reinterpret_cast<const void*>(first->init), reinterpret_cast<const void*>(first->start),
                          reinterpret_cast<const void*>(first->process), reinterpret_cast<const void*>(first->stop),
                          reinterpret_cast<const void*>(first->settings), reinterpret_cast<const void*>(first->deinit)})
        EXPECT_NE(callback, nullptr);
}

// One stream's worth of calls, in the order a host makes them, checking what
// each returns and that frames the plug-in must not draw on stay unchanged.
TEST(PluginLifecycle, CallbacksAndResults)
{
    const PluginRecord* record = Record();
    ASSERT_NE(record, nullptr);
    std::vector<uint8_t> frame(720 * 576 * 2);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::vector<uint8_t> original = frame;
    FrameRecord framePtr{frame.data()};
    FrameRecord nullFrame{nullptr};

    record->init();
    // Before any start the geometry is unknown: nothing is drawn.
    EXPECT_EQ(record->process(&framePtr), 0);
    EXPECT_EQ(frame, original);

    // A processor without SSE: start succeeds, every frame is left alone.
    FrameDescriptor noSse{720, 576, 0, 0, 2};
    EXPECT_EQ(record->start(&noSse), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(record->process(&framePtr), 0);
    EXPECT_EQ(frame, original);
    record->stop();

    // Processor code 0 counts as SSE-capable; a null buffer is never drawn on.
    FrameDescriptor sse{720, 576, 0, 0, 0};
    EXPECT_EQ(record->start(&sse), 1);
    EXPECT_EQ(record->process(&nullFrame), 0);
    EXPECT_EQ(record->process(&framePtr), 1);

    // Two starts in a row with other geometry, then frames of that geometry.
    std::vector<uint8_t> rgb(640 * 480 * 3, 0x40);
    FrameRecord rgbPtr{rgb.data()};
    FrameDescriptor second{640, 480, 0, 1, 0};
    EXPECT_EQ(record->start(&second), 1);
    EXPECT_EQ(record->start(&second), 1);
    EXPECT_EQ(record->process(&rgbPtr), 1);
    record->stop();
}

// `init` sets the time category to the user's default locale and leaves the
// others as the host had them (the DLL shares this process's C runtime).
TEST(PluginLifecycle, InitSetsOnlyTheTimeLocale)
{
    const PluginRecord* record = Record();
    ASSERT_NE(record, nullptr);
    const std::string userDefault = std::setlocale(LC_TIME, "");
    ASSERT_NE(userDefault, "C") << "the user's default must differ from C for this test to tell";
    std::setlocale(LC_ALL, "C");
    record->init();
    EXPECT_EQ(std::string(std::setlocale(LC_TIME, nullptr)), userDefault);
    for (int category : {LC_COLLATE, LC_CTYPE, LC_MONETARY, LC_NUMERIC})
        EXPECT_STREQ(std::setlocale(category, nullptr), "C") << "category " << category;
    std::setlocale(LC_ALL, "C");
}

// The message shown instead of the dialog on a processor without SSE: read
// back from the real window, then dismissed by the test.
TEST(PluginLifecycle, NoSseMessageBoxShowsTheRussianText)
{
    const PluginRecord* record = Record();
    ASSERT_NE(record, nullptr);
    FrameDescriptor noSse{720, 576, 0, 0, 1};
    ASSERT_EQ(record->start(&noSse), 1);

    // The box is modal: the callback runs on a second thread while this one
    // finds the box, reads its text and dismisses it. In a Wine prefix that
    // has just been created the first window can fail to open while the
    // desktop process starts, so a call that returns without a box is retried.
    HWND box = nullptr;
    std::wstring text;
    for (int attempt = 0; attempt < 3 && !box; ++attempt) {
        std::atomic<bool> returned{false};
        std::thread caller([&] {
            HWND parent = nullptr;
            record->settings(reinterpret_cast<void**>(&parent));
            returned = true;
        });
        for (int i = 0; i < 600 && !box && !returned; ++i) {
            Sleep(50);
            box = FindWindowW(L"#32770", L"Horavel");
        }
        if (box) {
            wchar_t buffer[512] = {};
            GetDlgItemTextW(box, 0xFFFF, buffer, 512);
            text = buffer;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            caller.join();
            EXPECT_TRUE(returned);
        } else if (returned) {
            caller.join();
        } else {
            caller.detach();  // never dismissed: the program ends with it
        }
    }
    ASSERT_NE(box, nullptr) << "no message box captioned with the module name";
    EXPECT_EQ(text, L"      Настройки плагина недоступны. \nПроцессор не поддерживает команды SSE.");

    FrameDescriptor sse{720, 576, 0, 0, 0};
    EXPECT_EQ(record->start(&sse), 1);
}

// Three host threads hand frames of one stream to `process` at once while
// the dialog, open on this thread, makes the clock wider and narrower (and
// `settings` and `deinit` come in the middle): every frame is drawn on, none
// faults.
TEST(PluginThreads, ThreeHostThreadsWhileTheDialogResizesTheClock)
{
    const PluginRecord* record = Record();
    ASSERT_NE(record, nullptr);
    HWND parent = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 240, nullptr,
                                  nullptr, nullptr, nullptr);
    if (!parent)
        GTEST_SKIP() << "no display: the dialog cannot change the clock";
    record->init();
    FrameDescriptor stream{720, 576, 0, 0, 0};
    ASSERT_EQ(record->start(&stream), 1);

    std::vector<uint8_t> blank(720 * 576 * 2);
    for (size_t i = 0; i < blank.size(); i += 2) {
        blank[i] = 16;
        blank[i + 1] = 128;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0}, faults{0};
    std::vector<std::thread> hosts;
    for (int i = 0; i < 3; ++i)
        hosts.emplace_back([&] {
            std::vector<uint8_t> frame;
            FrameRecord framePtr{nullptr};
            while (!stop) {
                frame = blank;
                framePtr.pixels = frame.data();
                if (record->process(&framePtr) != 1 || frame == blank)
                    ++faults;
                ++frames;
            }
        });

    void* parentPtr = parent;
    record->settings(&parentPtr);
    PumpFor(200);
    HWND dialog = VisibleDialogOfThisThread();
    HWND format = dialog ? GetDlgItem(dialog, 5113) : nullptr;
    EXPECT_NE(format, nullptr) << "no settings dialog with its format field";
    int changes = 0;
    for (const DWORD end = GetTickCount() + 3000; format && static_cast<LONG>(end - GetTickCount()) > 0; ++changes) {
        SetWindowTextW(format, changes % 2 ? L"%H" : L"%H:%M:%S %d.%m.%Y %H:%M:%S");
        PumpFor(15);
    }
    record->deinit();   // destroys the dialog and saves while frames go on
    PumpFor(100);
    stop = true;
    for (std::thread& thread : hosts)
        thread.join();
    DestroyWindow(parent);
    std::printf("three threads: %d frames, %d faults, %d changes of the clock's width\n", frames.load(),
                faults.load(), changes);
    EXPECT_GT(changes, 10);
    EXPECT_GT(frames.load(), 30);
    EXPECT_EQ(faults.load(), 0);
}

} // namespace
