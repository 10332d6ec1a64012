// The interactive host: a window that plays the test pattern or a Y4M file in
// real time through the plug-in, like the TV application does. The menu item
// "Настройки плагина..." and the F2 key call the plug-in's `settings`
// callback with this window as parent; the message loop gives the plug-in's
// modeless dialog its keyboard navigation (Tab, Enter, Escape). Closing the
// window stops the stream and calls `deinit`.
//
// --frames N closes the window by itself after N frames, and --settings opens
// the dialog once the first frame is shown (both handy for screenshots).

#include "host/interactive.h"
#include "host/media.h"
#include "host/plugin_host.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace norvale {

namespace {

constexpr UINT kMenuSettings = 100;
constexpr UINT kMenuExit = 101;
constexpr UINT_PTR kFrameTimer = 1;
constexpr wchar_t kWindowClass[] = L"NorvaleHostWindow";

std::wstring Cp1251ToWide(const char* text)
{
    if (!text)
        return {};
    const int n = MultiByteToWideChar(1251, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(1251, 0, text, -1, wide.data(), n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// Everything the window plays: the plug-in, the source of pictures, the frame
// buffer handed to `process` and the picture shown.
struct Player {
    const horavel::PluginRecord* plugin = nullptr;
    const HostOptions* options = nullptr;
    Y4mReader reader;
    FrameLayout layout = LayoutYUY2;
    int width = 0;
    int height = 0;
    int frameNumber = 0;
    int framesLeft = -1;  // -1: until the window is closed
    bool settingsPending = false;
    bool stopped = false;
    Picture picture;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> screen;  // top-down BGR, lines padded to 4 bytes
    HWND window = nullptr;

    int ScreenStride() const { return (width * 3 + 3) & ~3; }

    bool NextPicture()
    {
        if (options->input.empty()) {
            DrawTestPattern(frameNumber, picture);
            return true;
        }
        if (reader.ReadFrame(picture))
            return true;
        // At the end of the file, play it again from the start.
        if (!reader.Error().empty() || !reader.Open(options->input).empty())
            return false;
        return reader.ReadFrame(picture);
    }

    void PlayOneFrame()
    {
        if (!NextPicture()) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            return;
        }
        PictureToFrame(picture, layout, frame.data());
        horavel::FrameRecord record{frame.data()};
        plugin->process(&record);
        FrameToPicture(frame.data(), layout, width, height, picture);
        const int stride = ScreenStride();
        for (int y = 0; y < height; ++y) {
            uint8_t* line = screen.data() + static_cast<size_t>(y) * stride;
            for (int x = 0; x < width; ++x) {
                const size_t i = static_cast<size_t>(y) * width + x;
                YuvToRgb(picture.y[i], picture.u[i], picture.v[i], line[3 * x + 2], line[3 * x + 1], line[3 * x]);
            }
        }
        ++frameNumber;
        InvalidateRect(window, nullptr, FALSE);
        if (framesLeft > 0 && --framesLeft == 0)
            PostMessageW(window, WM_CLOSE, 0, 0);
    }

    void OpenSettings()
    {
        void* parent = window;
        plugin->settings(&parent);
    }

    void Paint(HDC dc) const
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        RECT client{};
        GetClientRect(window, &client);
        StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, width, height, screen.data(), &info,
                      DIB_RGB_COLORS, SRCCOPY);
    }

    void Stop()
    {
        if (stopped)
            return;
        stopped = true;
        KillTimer(window, kFrameTimer);
        plugin->stop();
        plugin->deinit();
    }
};

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* player = reinterpret_cast<Player*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        break;
    case WM_TIMER:
        if (player && wParam == kFrameTimer && !player->stopped) {
            player->PlayOneFrame();
            if (player->settingsPending) {
                player->settingsPending = false;
                player->OpenSettings();
            }
        }
        return 0;
    case WM_COMMAND:
        if (player && LOWORD(wParam) == kMenuSettings) {
            player->OpenSettings();
            return 0;
        }
        if (LOWORD(wParam) == kMenuExit) {
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_KEYDOWN:
        if (player && wParam == VK_F2) {
            player->OpenSettings();
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        if (player)
            player->Paint(dc);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_CLOSE:
        // `deinit` destroys the plug-in's dialog (a window owned by this one)
        // and saves its settings before this window goes.
        if (player)
            player->Stop();
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HMENU CreateHostMenu()
{
    HMENU plugin = CreatePopupMenu();
    AppendMenuW(plugin, MF_STRING, kMenuSettings, L"Настройки плагина...\tF2");
    AppendMenuW(plugin, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(plugin, MF_STRING, kMenuExit, L"Выход");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugin), L"Плагин");
    return bar;
}

} // namespace

int RunInteractive(const HostOptions& options)
{
    LoadedPlugin loaded;
    if (std::string error = loaded.Load(options.plugin); !error.empty()) {
        std::fprintf(stderr, "norvale-host: %s\n", error.c_str());
        return 2;
    }
    const horavel::PluginRecord& record = loaded.Record();

    Player player;
    player.plugin = &record;
    player.options = &options;
    player.width = options.width;
    player.height = options.height;
    int fps = std::max(1, options.fps);
    if (!options.input.empty()) {
        if (std::string error = player.reader.Open(options.input); !error.empty()) {
            std::fprintf(stderr, "norvale-host: %s\n", error.c_str());
            return 2;
        }
        player.width = player.reader.Header().width;
        player.height = player.reader.Header().height;
        fps = std::max(1, player.reader.Header().fpsNum / std::max(1, player.reader.Header().fpsDen));
    }
    player.layout = options.layout == 1 ? LayoutRGB24 : LayoutYUY2;
    player.framesLeft = options.frames > 0 ? options.frames : -1;
    player.settingsPending = options.openSettings;
    player.picture.Resize(player.width, player.height);
    const size_t frameBytes = FrameBytes(player.layout, player.width, player.height);
    player.frame.assign(std::max<size_t>(frameBytes, 1), 0);
    player.screen.assign(static_cast<size_t>(player.ScreenStride()) * player.height, 0);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &HostWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);

    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frameRect{0, 0, player.width, player.height};
    HMENU menu = CreateHostMenu();
    AdjustWindowRect(&frameRect, style, TRUE);
    const std::wstring title = L"Norvale — " + Cp1251ToWide(record.name);
    HWND window = CreateWindowExW(0, kWindowClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frameRect.right - frameRect.left, frameRect.bottom - frameRect.top, nullptr,
                                  menu, instance, &player);
    if (!window) {
        std::fprintf(stderr, "norvale-host: cannot create the window\n");
        return 2;
    }
    player.window = window;

    record.init();
    horavel::FrameDescriptor descriptor{player.width, player.height, static_cast<uint32_t>(frameBytes),
                                        options.layout, options.processor};
    record.start(&descriptor);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, kFrameTimer, static_cast<UINT>(1000 / fps), nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The plug-in's dialog is modeless: its keyboard navigation runs here,
        // in the host's loop, whenever it is the active window.
        HWND active = GetActiveWindow();
        if (active && active != window && IsDialogMessageW(active, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    player.Stop();
    loaded.Unload();
    std::printf("played %d frames\n", player.frameNumber);
    return 0;
}

} // namespace norvale
