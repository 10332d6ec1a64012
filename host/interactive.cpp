// The host's interactive mode: a window that plays the stream through the
// plug-in in real time. The "Plug-in" menu or F2 calls the plug-in's
// `settings` callback with this window as parent; the message loop feeds the
// keyboard navigation of any modeless dialog the plug-in opens. Closing the
// window ends the stream: stop, deinit, unload.

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

constexpr UINT kCommandSettings = 1001;
constexpr UINT kCommandExit = 1002;
constexpr UINT_PTR kFrameTimer = 1;
constexpr wchar_t kWindowClass[] = L"NorvaleHostWindow";

struct Player {
    const HostOptions* options = nullptr;
    LoadedPlugin plugin;
    Layout layout = Layout::YUY2;
    int width = 0, height = 0, fps = 25;
    int frameNumber = 0;
    Y4mReader reader;
    bool fromFile = false;
    Picture picture;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> display;  // 32-bit top-down pixels for the window
    horavel::FrameDescriptor descriptor{};
    int lastResult = -1;
};

Player* g_player = nullptr;

bool NextPicture(Player& p)
{
    if (!p.fromFile) {
        DrawTestPattern(p.frameNumber, p.picture);
        return true;
    }
    if (p.reader.ReadFrame(p.picture))
        return true;
    // Loop the file from its start.
    p.reader = Y4mReader();
    return p.reader.Open(p.options->input).empty() && p.reader.ReadFrame(p.picture);
}

void ProcessNextFrame(Player& p, HWND window)
{
    if (!NextPicture(p))
        return;
    PictureToFrame(p.picture, p.layout, p.frame.data());
    horavel::FrameRecord record{p.frame.data()};
    p.lastResult = p.plugin.Record().process(&record);
    FrameToPicture(p.frame.data(), p.layout, p.width, p.height, p.picture);
    for (size_t i = 0, n = p.picture.y.size(); i < n; ++i) {
        uint8_t r, g, b;
        YuvToRgb(p.picture.y[i], p.picture.u[i], p.picture.v[i], r, g, b);
        p.display[4 * i] = b, p.display[4 * i + 1] = g, p.display[4 * i + 2] = r, p.display[4 * i + 3] = 0;
    }
    ++p.frameNumber;
    InvalidateRect(window, nullptr, FALSE);
}

void Paint(Player& p, HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, p.width, p.height, p.display.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
    EndPaint(window, &ps);
}

void OpenSettings(Player& p, HWND window)
{
    HWND parent = window;
    p.plugin.Record().settings(reinterpret_cast<void**>(&parent));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Player* p = g_player;
    switch (message) {
    case WM_TIMER:
        if (p && wParam == kFrameTimer)
            ProcessNextFrame(*p, window);
        return 0;
    case WM_PAINT:
        if (p)
            Paint(*p, window);
        else
            ValidateRect(window, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == kCommandSettings && p)
            OpenSettings(*p, window);
        else if (LOWORD(wParam) == kCommandExit)
            DestroyWindow(window);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_F2 && p)
            OpenSettings(*p, window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, kFrameTimer);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HMENU BuildMenu()
{
    HMENU plugin = CreatePopupMenu();
    AppendMenuW(plugin, MF_STRING, kCommandSettings, L"&Settings...\tF2");
    AppendMenuW(plugin, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(plugin, MF_STRING, kCommandExit, L"E&xit");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugin), L"&Plug-in");
    return bar;
}

// A message for a modeless dialog of the plug-in goes through the dialog
// manager first, so Tab, Enter and Escape work in it.
bool IsPluginDialogMessage(HWND mainWindow, MSG& msg)
{
    if (!msg.hwnd)
        return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (!root || root == mainWindow)
        return false;
    wchar_t className[16] = {};
    GetClassNameW(root, className, 16);
    return lstrcmpW(className, L"#32770") == 0 && IsDialogMessageW(root, &msg);
}

} // namespace

int RunInteractive(const HostOptions& options)
{
    Player p;
    p.options = &options;
    if (std::string error = p.plugin.Load(options.plugin); !error.empty()) {
        std::fprintf(stderr, "norvale-host: %s\n", error.c_str());
        return 2;
    }
    p.width = options.width;
    p.height = options.height;
    p.fps = options.fps;
    if (!options.input.empty()) {
        if (std::string error = p.reader.Open(options.input); !error.empty()) {
            std::fprintf(stderr, "norvale-host: %s\n", error.c_str());
            return 2;
        }
        p.fromFile = true;
        p.width = p.reader.Header().width;
        p.height = p.reader.Header().height;
        p.fps = std::max(1, p.reader.Header().fpsNum / std::max(1, p.reader.Header().fpsDen));
    }
    if (p.width <= 0 || p.height <= 0) {
        std::fprintf(stderr, "norvale-host: the interactive mode needs a frame size above 0\n");
        return 2;
    }
    p.layout = options.layout == 1 ? Layout::RGB24 : Layout::YUY2;
    p.frame.assign(FrameBytes(p.layout, p.width, p.height), 0);
    p.display.assign(4 * static_cast<size_t>(p.width) * p.height, 0);
    p.picture.Resize(p.width, p.height);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    RECT frame{0, 0, p.width, p.height};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, TRUE);
    const std::wstring title = L"Norvale host";
    HWND window = CreateWindowW(kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, BuildMenu(), instance,
                                nullptr);
    if (!window) {
        std::fprintf(stderr, "norvale-host: cannot create the window\n");
        return 2;
    }
    g_player = &p;

    const horavel::PluginRecord& record = p.plugin.Record();
    record.init();
    p.descriptor = {p.width, p.height, static_cast<uint32_t>(p.frame.size()), options.layout, options.processor};
    std::printf("start(%d x %d, layout %d, processor %d) -> %d\n", p.width, p.height, options.layout,
                options.processor, record.start(&p.descriptor));
    std::fflush(stdout);
    ShowWindow(window, SW_SHOW);
    SetTimer(window, kFrameTimer, static_cast<UINT>(1000 / std::max(1, p.fps)), nullptr);
    if (options.openSettings)
        OpenSettings(p, window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsPluginDialogMessage(window, msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    g_player = nullptr;
    record.stop();
    record.deinit();
    std::printf("stopped after %d frames; deinit()\n", p.frameNumber);
    p.plugin.Unload();
    return 0;
}

} // namespace norvale
