// The clock on whole frames: the engine in this process (real GDI, real
// compositor) on YUY2 and RGB24 frames of three sizes, and the DLL loaded as
// a host loads it, which must give the same bytes. Outside the clock's
// rectangle, and outside the buffer, nothing changes.
#include "plugin/clock_engine.h"
#include "pipeline/frame_pipeline.h"
#include "core/muldiv.h"
#include "core/plugin_record.h"
#include "core/settings_table.h"
#include "render/dib_plane_win32.h"
#include "render/gdi_clock_renderer_win32.h"
#include "test_host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace horavel {

namespace {

using testing::InstanceProfilePath;
using testing::PluginModule;
using testing::StartedWithInstance;
using testing::WriteWholeFile;

constexpr size_t kGuard = 256;
constexpr uint8_t kGuardByte = 0xA5;

// A frame buffer with guard bytes on both sides and a varied picture.
struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    int32_t layout = 0;
    std::vector<uint8_t> bytes;

    Frame(int32_t w, int32_t h, int32_t l) : width(w), height(h), layout(l)
    {
        bytes.assign(kGuard + LineBytes() * size_t(h) + kGuard, kGuardByte);
        for (int32_t row = 0; row < h; ++row)
            for (size_t i = 0; i < LineBytes(); ++i)
                Pixels()[size_t(row) * LineBytes() + i] = static_cast<uint8_t>(40 + (i * 7 + size_t(row) * 3) % 170);
    }
    size_t LineBytes() const { return size_t(width) * (layout == LayoutYUY2 ? 2 : 3); }
    uint8_t* Pixels() { return bytes.data() + kGuard; }
    const uint8_t* Pixels() const { return bytes.data() + kGuard; }
    // Memory line of picture row y (RGB24 is stored bottom line first).
    size_t LineOf(int32_t y) const { return size_t(layout == LayoutYUY2 ? y : height - 1 - y); }
};

// Where the clock must land, in frame pixels, for a position and size in
// thousandths: placed with MulDiv and clipped to the frame. A YUY2 frame of
// odd width never has its last pixel drawn (its macropixel would reach past
// the line).
Rect ExpectedRect(const Frame& frame, Point position, Size size)
{
    const int32_t x = MulDiv(frame.width, position.x, 1000);
    const int32_t y = MulDiv(frame.height, position.y, 1000);
    const int32_t w = MulDiv(frame.width, size.width, 1000);
    const int32_t h = MulDiv(frame.height, size.height, 1000);
    const int32_t drawableWidth = frame.layout == LayoutYUY2 ? frame.width & ~1 : frame.width;
    return Intersect({x, y, x + w, y + h}, {0, 0, drawableWidth, frame.height});
}

// Checks that every changed byte belongs to a pixel of `allowed` (for YUY2 a
// chroma byte belongs to both pixels of its pair), that the guards are
// intact, and returns the bounding box of the pixels whose own bytes changed.
Rect CheckChanges(const Frame& before, const Frame& after, const Rect& allowed)
{
    for (size_t i = 0; i < kGuard; ++i) {
        EXPECT_EQ(after.bytes[i], kGuardByte) << "before the buffer";
        EXPECT_EQ(after.bytes[after.bytes.size() - 1 - i], kGuardByte) << "after the buffer";
    }
    Rect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    int outside = 0;
    for (int32_t y = 0; y < before.height; ++y) {
        const size_t line = before.LineOf(y) * before.LineBytes();
        for (size_t i = 0; i < before.LineBytes(); ++i) {
            if (before.Pixels()[line + i] == after.Pixels()[line + i])
                continue;
            int32_t first, last;  // the pixels this byte belongs to
            bool own = true;
            if (before.layout == LayoutYUY2) {
                const int32_t pair = static_cast<int32_t>(i / 4) * 2;
                const size_t inPair = i % 4;
                if (inPair == 0 || inPair == 2) {
                    first = last = pair + (inPair == 2);
                } else {
                    first = pair;
                    last = pair + 1;
                    own = false;
                }
            } else {
                first = last = static_cast<int32_t>(i / 3);
            }
            const bool inside = y >= allowed.top && y < allowed.bottom && last >= allowed.left && first < allowed.right;
            if (!inside && ++outside <= 5)
                ADD_FAILURE() << "byte " << i << " of row " << y << " changed outside the clock";
            if (own) {
                box.left = std::min(box.left, first);
                box.right = std::max(box.right, last + 1);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y + 1);
            }
        }
    }
    EXPECT_EQ(outside, 0);
    return box.IsEmpty() ? Rect{} : box;
}

struct FrameCase {
    int32_t width;
    int32_t height;
    int32_t layout;
};

const FrameCase kCases[] = {
    {720, 576, LayoutYUY2}, {1920, 1080, LayoutYUY2}, {721, 433, LayoutYUY2},
    {720, 576, LayoutRGB24}, {1920, 1080, LayoutRGB24}, {721, 433, LayoutRGB24},
};

std::string CaseName(const FrameCase& c)
{
    return std::to_string(c.width) + "x" + std::to_string(c.height) + (c.layout == LayoutYUY2 ? " YUY2" : " RGB24");
}

void SetPosition(int32_t x, int32_t y)
{
    TheClockEngine().Settings().EditLive([&](SettingsRecord& live) {
        live.StringPosX = x;
        live.StringPosY = y;
    });
}

Point LivePosition()
{
    const SettingsRecord live = TheClockEngine().Settings().Live();
    return {live.StringPosX, live.StringPosY};
}

// Runs before anything starts the engine in this process.
TEST(ClockEngine, FrameBeforeAnyStartIsLeftAlone)
{
    TheClockEngine().Settings().SetLive(TableDefaults());
    Frame frame(64, 16, LayoutYUY2);
    const Frame before = frame;
    TheClockEngine().Process(frame.Pixels());
    EXPECT_TRUE(frame.bytes == before.bytes);
    EXPECT_EQ(TheClockEngine().ClockText(), "");
}

TEST(ClockEngine, LandsAtTheClampedPositionAndNowhereElse)
{
    TheClockEngine().Settings().SetLive(TableDefaults());
    for (const FrameCase& c : kCases) {
        SCOPED_TRACE(CaseName(c));
        for (Point requested : {Point{0, 0}, Point{300, 400}, Point{900, 950}, Point{-5, -40}}) {
            SCOPED_TRACE(::testing::Message() << "position " << requested.x << ", " << requested.y);
            SetPosition(requested.x, requested.y);
            TheClockEngine().Start(c.width, c.height, c.layout);
            Frame frame(c.width, c.height, c.layout);
            const Frame before = frame;
            TheClockEngine().Process(frame.Pixels());

            EXPECT_EQ(TheClockEngine().ClockText().size(), 8u);  // "%H:%M:%S"
            const Size size = TheClockEngine().ClockSize();
            ASSERT_GT(size.width, 100);
            ASSERT_GT(size.height, 50);
            const Point clamped = ClampClockPosition(requested, size);
            EXPECT_EQ(LivePosition(), clamped);
            const Rect expected = ExpectedRect(frame, clamped, size);
            EXPECT_EQ(CheckChanges(before, frame, expected), expected);
        }
    }
}

TEST(ClockEngine, ClockWiderThanTheFrameIsCutOnTheLeft)
{
    SettingsRecord settings = TableDefaults();
    settings.FontSize = -260;
    TheClockEngine().Settings().SetLive(settings);
    for (const FrameCase& c : {kCases[0], kCases[5]}) {
        SCOPED_TRACE(CaseName(c));
        TheClockEngine().Start(c.width, c.height, c.layout);
        Frame frame(c.width, c.height, c.layout);
        const Frame before = frame;
        TheClockEngine().Process(frame.Pixels());
        const Size size = TheClockEngine().ClockSize();
        ASSERT_GT(size.width, 1000);
        EXPECT_EQ(LivePosition().x, 1000 - size.width);
        const Rect expected = ExpectedRect(frame, LivePosition(), size);
        EXPECT_EQ(expected.left, 0);
        EXPECT_EQ(CheckChanges(before, frame, expected), expected);
        // Every frame puts it back to the same place.
        TheClockEngine().Process(frame.Pixels());
        EXPECT_EQ(LivePosition().x, 1000 - size.width);
    }
    TheClockEngine().Settings().SetLive(TableDefaults());
}

// Every setting of the table, changed alone as the dialog changes it (the
// font made again, a redraw asked for), reaches the next frame; only the
// quality, which the clock font ignores, leaves it as it was. A setting
// added to the table needs a value here, or this test fails.
TEST(ClockEngine, EverySettingChangedAloneReachesTheNextFrame)
{
    SettingsRecord base = TableDefaults();
    base.StringPosX = 100;
    base.StringPosY = 100;
    base.Format = "Clock \xE0\xE1\xE2";  // a text that stays the same; letters above 127
    const auto frameWith = [](const SettingsRecord& settings) {
        TheClockEngine().Settings().SetLive(settings);
        TheClockEngine().CreateClockFont();
        TheClockEngine().RequestClockRedraw();
        Frame frame(720, 576, LayoutRGB24);
        TheClockEngine().Process(frame.Pixels());
        return frame.bytes;
    };
    TheClockEngine().Start(720, 576, LayoutRGB24);
    const std::vector<uint8_t> before = frameWith(base);
    const std::map<std::string, std::function<void(SettingsRecord&)>> changes = {
        {"StringPosX", [](SettingsRecord& r) { r.StringPosX = 300; }},
        {"StringPosY", [](SettingsRecord& r) { r.StringPosY = 300; }},
        {"FontName", [](SettingsRecord& r) { r.FontName = "Liberation Mono"; }},
        {"FontSize", [](SettingsRecord& r) { r.FontSize = -50; }},
        {"FontWeight", [](SettingsRecord& r) { r.FontWeight = 400; }},
        {"FontItalic", [](SettingsRecord& r) { r.FontItalic = 1; }},
        {"FontUnderline", [](SettingsRecord& r) { r.FontUnderline = 0; }},
        {"FontStrikeOut", [](SettingsRecord& r) { r.FontStrikeOut = 1; }},
        {"FontCharSet", [](SettingsRecord& r) { r.FontCharSet = r.FontCharSet == 204 ? 0 : 204; }},
        {"FontQuality", [](SettingsRecord& r) { r.FontQuality = 0; }},
        {"TextColor", [](SettingsRecord& r) { r.TextColor = 0x0000FF; }},
        {"BackColor", [](SettingsRecord& r) { r.BackColor = 0x00FF00; }},
        {"TextOpacity", [](SettingsRecord& r) { r.TextOpacity = 100; }},
        {"BackOpacity", [](SettingsRecord& r) { r.BackOpacity = 90; }},
        {"ShadowOffset", [](SettingsRecord& r) { r.ShadowOffset = 20; }},
        {"Format", [](SettingsRecord& r) { r.Format = "Other"; }},
        {"KeepShape", [](SettingsRecord& r) { r.KeepShape = 1; }},
    };
    for (const SettingsTableRow& row : SettingsTable()) {
        const std::string key(row.key);
        SCOPED_TRACE(key);
        const auto change = changes.find(key);
        ASSERT_NE(change, changes.end()) << "no other value of " << key << " to try";
        SettingsRecord changed = base;
        change->second(changed);
        ASSERT_FALSE(changed == base);
        const std::vector<uint8_t> after = frameWith(changed);
        if (key == "FontQuality")
            EXPECT_TRUE(after == before) << "the quality changed the frame";
        else
            EXPECT_TRUE(after != before) << "the frame did not show the change";
        // And back: the frame of before again.
        EXPECT_TRUE(frameWith(base) == before) << "the frame of before did not come back";
    }
    TheClockEngine().Settings().SetLive(TableDefaults());
}

// KeepShape: off, the clock is stretched with the frame's aspect; on, its
// width over its height is the same on a 4:3 and a 16:9 frame, within the
// pixel that each side's rounding may take.
TEST(ClockEngine, KeepShapeKeepsTheClocksAspectOnWideFrames)
{
    Size box[2][2];  // [KeepShape][frame]
    const Size frames[2] = {{768, 576}, {1920, 1080}};
    for (int keep = 0; keep < 2; ++keep) {
        for (int f = 0; f < 2; ++f) {
            SettingsRecord settings = TableDefaults();
            settings.KeepShape = static_cast<uint8_t>(keep);
            settings.BackOpacity = 100;
            settings.StringPosX = 100;
            settings.StringPosY = 100;
            settings.Format = "12:47:09";
            TheClockEngine().Settings().SetLive(settings);
            TheClockEngine().Start(frames[f].width, frames[f].height, LayoutRGB24);
            Frame frame(frames[f].width, frames[f].height, LayoutRGB24);
            const Frame before = frame;
            TheClockEngine().Process(frame.Pixels());
            const Rect changed = CheckChanges(before, frame, {0, 0, frame.width, frame.height});
            box[keep][f] = {changed.Width(), changed.Height()};
            std::printf("KeepShape=%d on %dx%d: clock box %d x %d\n", keep, frames[f].width, frames[f].height,
                        changed.Width(), changed.Height());
        }
    }
    // The same on the reference frame either way.
    EXPECT_EQ(box[0][0], box[1][0]);
    const auto widthAt = [&](int keep, int f) {
        return static_cast<double>(box[keep][0].width) * box[keep][f].height / box[keep][0].height;
    };
    EXPECT_NEAR(box[1][1].width, widthAt(1, 1), 1.0);
    // Off, the 16:9 clock is a third wider than its shape.
    EXPECT_NEAR(box[0][1].width / widthAt(0, 1), 4.0 / 3.0, 0.02);
    TheClockEngine().Settings().SetLive(TableDefaults());
}

// The clock shows local time: in a zone three hours east of UTC (the C
// runtime's TZ counts hours west, hence -3) the text is UTC + 3 h.
TEST(ClockEngine, ClockTextIsLocalTime)
{
    _putenv("TZ=XYZ-3");
    _tzset();
    SettingsRecord settings = TableDefaults();
    settings.Format = "%H:%M %d";
    TheClockEngine().Settings().SetLive(settings);
    TheClockEngine().Start(720, 576, LayoutYUY2);
    auto utcShifted = [](int hours) {
        const std::time_t t = std::time(nullptr) + hours * 3600;
        char text[32];
        std::strftime(text, sizeof text, "%H:%M %d", std::gmtime(&t));
        return std::string(text);
    };
    const std::string before = utcShifted(3);
    Frame frame(720, 576, LayoutYUY2);
    TheClockEngine().Process(frame.Pixels());
    const std::string after = utcShifted(3);
    const std::string text = TheClockEngine().ClockText();
    _putenv("TZ=");
    _tzset();
    EXPECT_TRUE(text == before || text == after) << "clock " << text << ", UTC + 3 h " << before;
    EXPECT_NE(text.substr(0, 2), utcShifted(0).substr(0, 2));
    TheClockEngine().Settings().SetLive(TableDefaults());
}

// Whatever the frame shows is the second the system time gives, on every
// frame not within a few milliseconds of a second's change.
TEST(ClockEngine, EveryFrameShowsTheCurrentSecond)
{
    SettingsRecord settings = TableDefaults();
    settings.Format = "%S";
    TheClockEngine().Settings().SetLive(settings);
    TheClockEngine().Start(720, 576, LayoutYUY2);
    Frame frame(720, 576, LayoutYUY2);
    auto now = [] {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        return ((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime) / 10000;  // milliseconds
    };
    int checked = 0, changes = 0;
    std::string last;
    for (const uint64_t end = now() + 3500; now() < end;) {
        const uint64_t before = now();
        TheClockEngine().Process(frame.Pixels());
        const uint64_t after = now();
        const std::string text = TheClockEngine().ClockText();
        changes += !last.empty() && text != last;
        last = text;
        if (before / 1000 == after / 1000 && before % 1000 >= 30) {
            char expected[8];
            std::snprintf(expected, sizeof expected, "%02d", static_cast<int>(before / 1000 % 60));
            EXPECT_EQ(text, expected) << "at " << before % 1000 << " ms into the second";
            ++checked;
        }
        Sleep(7);
    }
    EXPECT_GT(checked, 100);
    EXPECT_GE(changes, 3);
    TheClockEngine().Settings().SetLive(TableDefaults());
}

TEST(ClockEngine, PreviewRefreshIsPostedToTheDialogWindowOnly)
{
    TheClockEngine().Settings().SetLive(TableDefaults());
    // A window of this thread: a sent message would go straight to its
    // window procedure, a posted one waits in this thread's queue.
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const auto takePosted = [&] {
        int posts = 0;
        MSG message;
        while (PeekMessageA(&message, window, kWmPreviewRefresh, kWmPreviewRefresh, PM_REMOVE)) {
            ++posts;
            EXPECT_EQ(message.wParam, 1u);
            EXPECT_EQ(message.lParam, 0);
        }
        return posts;
    };
    Frame frame(720, 576, LayoutYUY2);
    TheClockEngine().Start(frame.width, frame.height, frame.layout);
    TheClockEngine().SetPreviewWindow(window);
    TheClockEngine().Process(frame.Pixels());
    EXPECT_EQ(takePosted(), 1);

    // From the host's thread, while this thread does not pump messages: a
    // send would wait for this thread forever, a post returns at once.
    std::thread host([&] {
        TheClockEngine().RequestClockRedraw();
        TheClockEngine().Process(frame.Pixels());
    });
    host.join();
    EXPECT_EQ(takePosted(), 1);

    TheClockEngine().SetPreviewWindow(nullptr);
    TheClockEngine().RequestClockRedraw();
    TheClockEngine().Process(frame.Pixels());
    EXPECT_EQ(takePosted(), 0);

    // A window that is gone gets nothing, and nothing fails.
    TheClockEngine().SetPreviewWindow(window);
    DestroyWindow(window);
    TheClockEngine().RequestClockRedraw();
    TheClockEngine().Process(frame.Pixels());
    TheClockEngine().SetPreviewWindow(nullptr);
}

// The DLL, loaded and driven through its exports with a profile of its own
// (the test runs with "-inst:c", so the profile is Instances\c\Plugins\Horavel.ini
// beside the program), must draw the very bytes the engine draws here.
TEST(ClockThroughTheDll, SameBytesAsTheEngineOnEveryLayoutAndSize)
{
    ASSERT_TRUE(StartedWithInstance('c')) << "run with -inst:c";
    WriteWholeFile(InstanceProfilePath('c'), "[COMMON]\r\nStringPosX=900\r\nStringPosY=950\r\n");

    const PluginModule record;
    ASSERT_TRUE(record.Loaded());
    record->init();

    SettingsRecord settings = TableDefaults();
    for (const FrameCase& c : kCases) {
        SCOPED_TRACE(CaseName(c));
        bool sameSecond = false;
        for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
            settings.StringPosX = 900;
            settings.StringPosY = 950;
            TheClockEngine().Settings().SetLive(settings);
            FrameDescriptor descriptor{c.width, c.height, 0, c.layout, 0};
            Frame viaDll(c.width, c.height, c.layout);
            Frame here(c.width, c.height, c.layout);
            const Frame before = here;
            FrameRecord frameRecord{viaDll.Pixels()};

            const std::time_t start = std::time(nullptr);
            ASSERT_EQ(record->start(&descriptor), 1);
            ASSERT_EQ(record->process(&frameRecord), 1);
            TheClockEngine().Start(c.width, c.height, c.layout);
            TheClockEngine().Process(here.Pixels());
            sameSecond = std::time(nullptr) == start;
            if (!sameSecond)
                continue;  // the texts may differ; draw both again

            const Size size = TheClockEngine().ClockSize();
            const Rect expected = ExpectedRect(here, ClampClockPosition({900, 950}, size), size);
            EXPECT_EQ(CheckChanges(before, viaDll, expected), expected);
            EXPECT_TRUE(viaDll.bytes == here.bytes);
        }
        EXPECT_TRUE(sameSecond);
    }

    // A null buffer is refused.
    FrameRecord empty{nullptr};
    EXPECT_EQ(record->process(&empty), 0);
    record->stop();
    record->deinit();
}

// Formats far longer than any that fits, through the DLL: the text must be
// what it always was. "% " pairs clean to as many blanks, which never fit,
// so the text is empty and nothing is drawn; after a NUL the runtime reads
// nothing more, so the clock shows the part before it.
TEST(ClockThroughTheDll, LongFormatsGiveTheTextTheyAlwaysGave)
{
    std::string pairs100k, pairs1m;
    for (int i = 0; i < 50000; ++i)
        pairs100k += "% ";
    for (int i = 0; i < 10; ++i)
        pairs1m += pairs100k;
    const std::string afterNul = std::string("%H:%M:%S\0", 9) + pairs1m;
    struct Case {
        const char* name;
        std::string format;
        std::string same;  // a short format that gives the same text
    };
    const Case cases[] = {{"100000 characters of \"% \"", pairs100k, "%"},
                          {"1 MB of \"% \"", pairs1m, "%"},
                          {"a clock, a NUL and 1 MB", afterNul, "%H:%M:%S"}};
    ASSERT_EQ(pairs100k.size(), 100000u);
    ASSERT_EQ(pairs1m.size(), 1000000u);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Here, the engine's text against one strftime over the whole text.
        SettingsRecord settings = TableDefaults();
        settings.StringPosX = 300;
        settings.StringPosY = 400;
        settings.Format = c.format;
        TheClockEngine().Settings().SetLive(settings);
        TheClockEngine().Start(720, 576, LayoutYUY2);
        Frame frame(720, 576, LayoutYUY2);
        bool sameSecond = false;
        for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
            const std::time_t now = std::time(nullptr);
            TheClockEngine().RequestClockRedraw();
            TheClockEngine().Process(frame.Pixels());
            const std::string text = TheClockEngine().ClockText();
            sameSecond = std::time(nullptr) == now;
            if (sameSecond)
                EXPECT_EQ(text, FormatClockTime(CleanClockFormat(c.format), now));
        }
        ASSERT_TRUE(sameSecond);
        if (c.same == "%")
            EXPECT_EQ(TheClockEngine().ClockText(), "");

        // The DLL with the long format draws what the short one draws here.
        WriteWholeFile(InstanceProfilePath('c'),
                       "[COMMON]\r\nStringPosX=300\r\nStringPosY=400\r\nFormat=" + c.format + "\r\n");
        const PluginModule record;
        ASSERT_TRUE(record.Loaded());
        record->init();
        settings.Format = c.same;
        TheClockEngine().Settings().SetLive(settings);
        sameSecond = false;
        for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
            FrameDescriptor descriptor{720, 576, 0, LayoutYUY2, 0};
            Frame viaDll(720, 576, LayoutYUY2);
            Frame here(720, 576, LayoutYUY2);
            FrameRecord frameRecord{viaDll.Pixels()};
            const std::time_t start = std::time(nullptr);
            ASSERT_EQ(record->start(&descriptor), 1);
            ASSERT_EQ(record->process(&frameRecord), 1);
            TheClockEngine().Start(720, 576, LayoutYUY2);
            TheClockEngine().Process(here.Pixels());
            sameSecond = std::time(nullptr) == start;
            if (sameSecond)
                EXPECT_TRUE(viaDll.bytes == here.bytes);
        }
        EXPECT_TRUE(sameSecond);
        record->stop();
        record->deinit();
    }
    TheClockEngine().Settings().SetLive(TableDefaults());
}

// A clock larger than the frame: the DLL draws, scales and keeps only what
// lands on the frame; the whole clock drawn and scaled in this process must
// give the same bytes.
TEST(ClockThroughTheDll, HugeClockGivesTheBytesOfTheWholeClockDrawn)
{
    struct HugeCase {
        int32_t width, height, layout, fontSize, shadow, x, y;
    };
    const HugeCase cases[] = {
        {3840, 2160, LayoutYUY2, -400, 8, 300, 400},
        {3840, 2160, LayoutRGB24, -400, 8, 300, 400},
        {1921, 1081, LayoutRGB24, -700, 35, 0, 900},
        {721, 577, LayoutYUY2, -34, 2000, 500, 500},
        {720, 576, LayoutYUY2, -200, 60, 950, 10},
    };
    ASSERT_TRUE(StartedWithInstance('c')) << "run with -inst:c";

    for (const HugeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " layout " << c.layout << " FontSize "
                                        << c.fontSize << " ShadowOffset " << c.shadow);
        SettingsRecord settings = TableDefaults();
        settings.FontSize = c.fontSize;
        settings.ShadowOffset = c.shadow;
        settings.StringPosX = c.x;
        settings.StringPosY = c.y;
        settings.Format = "12:47:09";  // no conversion: the same text in every second
        WriteWholeFile(InstanceProfilePath('c'), "[COMMON]\r\nStringPosX=" + std::to_string(c.x) +
                                                     "\r\nStringPosY=" + std::to_string(c.y) +
                                                     "\r\nFontSize=" + std::to_string(c.fontSize) +
                                                     "\r\nShadowOffset=" + std::to_string(c.shadow) +
                                                     "\r\nFormat=12:47:09\r\n");
        Frame viaDll(c.width, c.height, c.layout);
        Frame whole(c.width, c.height, c.layout);
        const Frame before = whole;
        {
            const PluginModule record;
            ASSERT_TRUE(record.Loaded());
            record->init();
            FrameDescriptor descriptor{c.width, c.height, 0, c.layout, 0};
            FrameRecord frameRecord{viaDll.Pixels()};
            ASSERT_EQ(record->start(&descriptor), 1);
            ASSERT_EQ(record->process(&frameRecord), 1);
            record->stop();
            record->deinit();
        }
        {
            // The whole clock drawn, scaled whole and blended where the DLL
            // clamps it.
            ClockOverlay overlay(AllocateDibPlane);
            overlay.AddPlane();
            overlay.AddPlane();
            GdiClockTextRenderer renderer;
            ASSERT_TRUE(renderer.CreateClockFont(settings));
            const RenderedClock rendered = renderer.RenderClockText(settings.Format, settings, overlay);
            ASSERT_TRUE(rendered.hasPicture);
            overlay.SelectPlane(0);
            const Size size = ClockSizeInThousandths(rendered.pixelSize);
            EXPECT_TRUE(size.width > 1000 || size.height > 1000);
            Compositor compositor;
            compositor.SetFrameFormat(c.width, c.height, c.layout);
            compositor.PrepareOverlay(overlay.Pixels(), overlay.AllocationSize(), overlay.UsedRect(), size,
                                      kOverlayGrowPercent, kOverlayShrinkPercent);
            compositor.BlendOverlay(whole.Pixels(), ClampClockPosition({c.x, c.y}, size), 100);
        }
        EXPECT_NE(whole.bytes, before.bytes);
        size_t differing = 0;
        for (size_t i = 0; i < whole.bytes.size(); ++i)
            differing += whole.bytes[i] != viaDll.bytes[i];
        EXPECT_EQ(differing, 0u);
    }
}

} // namespace
} // namespace horavel
