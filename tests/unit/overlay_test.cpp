// ClockOverlay sizing rules, plane release, the alpha copy, and the colour
// helpers of the clock picture.
#include "render/clock_colors.h"
#include "render/clock_overlay.h"

#include <gtest/gtest.h>

#include <memory>

namespace horavel {
namespace {

// Heap planes that count how many were made and how many are alive, and can
// be told to fail.
struct PlaneLedger {
    int allocations = 0;
    int alive = 0;
    bool fail = false;
};

class CountedPlane final : public PlaneBitmap {
public:
    CountedPlane(std::unique_ptr<PlaneBitmap> inner, PlaneLedger& ledger) : m_inner(std::move(inner)), m_ledger(ledger)
    {
        ++m_ledger.alive;
    }
    ~CountedPlane() override { --m_ledger.alive; }
    uint8_t* Pixels() const override { return m_inner->Pixels(); }

private:
    std::unique_ptr<PlaneBitmap> m_inner;
    PlaneLedger& m_ledger;
};

PlaneAllocator CountingAllocator(PlaneLedger& ledger)
{
    return [&ledger](int32_t width, int32_t height) -> std::unique_ptr<PlaneBitmap> {
        ++ledger.allocations;
        if (ledger.fail)
            return nullptr;
        return std::make_unique<CountedPlane>(AllocateHeapPlane(width, height), ledger);
    };
}

TEST(ClockOverlay, FirstSizingAddsPlaneZeroWithHeadroom)
{
    ClockOverlay overlay;
    overlay.SelectPlane(0);
    EXPECT_EQ(overlay.SelectedPlane(), -1);
    EXPECT_EQ(overlay.Pixels(), nullptr);

    overlay.EnsurePlaneSize(10, 10, 25, 25);
    EXPECT_EQ(overlay.PlaneCount(), 1);
    EXPECT_EQ(overlay.SelectedPlane(), 0);
    EXPECT_EQ(overlay.AllocationSize(), (Size{13, 13}));  // 12.5 rounds up
    EXPECT_EQ(overlay.UsedRect(), (Rect{0, 0, 10, 10}));
    EXPECT_NE(overlay.Pixels(), nullptr);
}

TEST(ClockOverlay, ReallocatesOnlyOutsideTheHysteresisBand)
{
    PlaneLedger ledger;
    ClockOverlay overlay(CountingAllocator(ledger));
    overlay.AddPlane();

    overlay.EnsurePlaneSize(100, 40, 25, 25);
    EXPECT_EQ(overlay.AllocationSize(), (Size{125, 50}));
    uint8_t* first = overlay.Pixels();

    // Inside [60 %, 100 %] of 125 x 50: 75..125 wide, 30..50 high.
    for (Size request : {Size{110, 40}, Size{80, 35}, Size{125, 50}, Size{75, 30}}) {
        overlay.EnsurePlaneSize(request.width, request.height, 25, 25);
        EXPECT_EQ(overlay.AllocationSize(), (Size{125, 50}));
        EXPECT_EQ(overlay.UsedRect(), (Rect{0, 0, request.width, request.height}));
    }
    EXPECT_EQ(ledger.allocations, 1);
    EXPECT_EQ(overlay.Pixels(), first);

    overlay.EnsurePlaneSize(74, 40, 25, 25);  // 74 < 75
    EXPECT_EQ(overlay.AllocationSize(), (Size{93, 50}));
    overlay.EnsurePlaneSize(93, 29, 25, 25);  // 29 < 30
    EXPECT_EQ(overlay.AllocationSize(), (Size{116, 36}));
    overlay.EnsurePlaneSize(116, 37, 25, 25);  // taller than the allocation
    EXPECT_EQ(overlay.AllocationSize(), (Size{145, 46}));
    EXPECT_EQ(ledger.allocations, 4);
    EXPECT_EQ(ledger.alive, 1);  // every replaced bitmap was freed

    ClockOverlay fresh;
    fresh.EnsurePlaneSize(100, 40, 25, 25);
    fresh.EnsurePlaneSize(125, 50, 25, 25);
    EXPECT_EQ(fresh.AllocationSize(), (Size{125, 50}));
    fresh.EnsurePlaneSize(126, 50, 25, 25);
    EXPECT_EQ(fresh.AllocationSize(), (Size{158, 63}));
}

TEST(ClockOverlay, EmptyNegativeAndOversizedRequestsKeepNoPixels)
{
    PlaneLedger ledger;
    ClockOverlay overlay(CountingAllocator(ledger));
    overlay.EnsurePlaneSize(0, 37, 25, 25);
    EXPECT_EQ(overlay.Pixels(), nullptr);
    EXPECT_EQ(overlay.AllocationSize(), (Size{0, 46}));
    EXPECT_TRUE(overlay.UsedRect().IsEmpty());

    // A negative request (a negative shadow offset) is an empty picture.
    overlay.EnsurePlaneSize(-20, -5, 25, 25);
    EXPECT_EQ(overlay.Pixels(), nullptr);
    EXPECT_EQ(overlay.UsedRect(), (Rect{0, 0, 0, 0}));

    // Far beyond any clock: refused without asking the allocator.
    overlay.EnsurePlaneSize(40000, 40000, 25, 25);
    EXPECT_EQ(overlay.Pixels(), nullptr);
    EXPECT_EQ(overlay.UsedRect(), (Rect{0, 0, 40000, 40000}));
    EXPECT_EQ(ledger.allocations, 0);

    overlay.EnsurePlaneSize(20, 10, 25, 25);
    EXPECT_NE(overlay.Pixels(), nullptr);
    EXPECT_EQ(ledger.allocations, 1);
}

TEST(ClockOverlay, FailedAllocationIsRetriedOnlyOutsideTheBand)
{
    PlaneLedger ledger;
    ClockOverlay overlay(CountingAllocator(ledger));
    ledger.fail = true;
    overlay.EnsurePlaneSize(100, 40, 25, 25);
    EXPECT_EQ(overlay.Pixels(), nullptr);
    EXPECT_EQ(overlay.AllocationSize(), (Size{125, 50}));
    EXPECT_EQ(overlay.UsedRect(), (Rect{0, 0, 100, 40}));

    ledger.fail = false;
    overlay.EnsurePlaneSize(110, 45, 25, 25);  // inside the band: no retry
    EXPECT_EQ(overlay.Pixels(), nullptr);
    EXPECT_EQ(ledger.allocations, 1);

    overlay.EnsurePlaneSize(130, 45, 25, 25);  // outside: retried
    EXPECT_NE(overlay.Pixels(), nullptr);
    EXPECT_EQ(ledger.allocations, 2);
}

TEST(ClockOverlay, ReleaseFreesBitmapsAndEmptiesTheList)
{
    PlaneLedger ledger;
    {
        ClockOverlay overlay(CountingAllocator(ledger));
        overlay.AddPlane();
        overlay.AddPlane();
        EXPECT_EQ(overlay.SelectedPlane(), 1);
        for (int32_t plane : {0, 1}) {
            overlay.SelectPlane(plane);
            overlay.EnsurePlaneSize(30, 20, 25, 25);
        }
        EXPECT_EQ(ledger.alive, 2);

        overlay.SelectPlane(0);
        overlay.ReleasePlaneBitmap();
        EXPECT_EQ(overlay.Pixels(), nullptr);
        EXPECT_EQ(overlay.AllocationSize(), (Size{0, 0}));
        EXPECT_TRUE(overlay.UsedRect().IsEmpty());
        EXPECT_EQ(ledger.alive, 1);

        overlay.ReleaseAllPlanes();
        EXPECT_EQ(overlay.PlaneCount(), 0);
        EXPECT_EQ(ledger.alive, 0);
        overlay.SelectPlane(1);
        EXPECT_EQ(overlay.SelectedPlane(), -1);

        overlay.SelectPlane(0);
        overlay.EnsurePlaneSize(30, 20, 25, 25);
        EXPECT_EQ(ledger.alive, 1);
    }
    EXPECT_EQ(ledger.alive, 0);  // the destructor released the last one
}

// Fills the selected plane's whole allocation with a byte pattern.
void FillPattern(ClockOverlay& overlay, uint8_t seed)
{
    const Size a = overlay.AllocationSize();
    for (int32_t i = 0; i < a.width * a.height * 4; ++i)
        overlay.Pixels()[i] = static_cast<uint8_t>(seed + i * 7);
}

TEST(ClockOverlay, CopyAlphaMovesByteZeroIntoByteThreeOfTheUsedRectangle)
{
    ClockOverlay overlay;
    overlay.AddPlane();
    overlay.AddPlane();
    for (int32_t plane : {0, 1}) {
        overlay.SelectPlane(plane);
        overlay.EnsurePlaneSize(7, 3, 25, 25);  // 9 x 4 allocation, slack around
        FillPattern(overlay, static_cast<uint8_t>(plane * 101));
    }
    overlay.SelectPlane(0);
    const Size a = overlay.AllocationSize();
    const size_t bytes = size_t(a.width) * size_t(a.height) * 4;
    const std::vector<uint8_t> before0(overlay.Pixels(), overlay.Pixels() + bytes);
    overlay.SelectPlane(1);
    const std::vector<uint8_t> before1(overlay.Pixels(), overlay.Pixels() + bytes);

    overlay.CopyAlphaFromPlane(0, 1);

    overlay.SelectPlane(1);
    EXPECT_EQ(std::vector<uint8_t>(overlay.Pixels(), overlay.Pixels() + bytes), before1);
    overlay.SelectPlane(0);
    const uint8_t* after = overlay.Pixels();
    for (int32_t row = 0; row < a.height; ++row) {      // memory rows, bottom-up
        const int32_t y = a.height - 1 - row;             // picture row from the top
        for (int32_t x = 0; x < a.width; ++x) {
            const size_t at = (size_t(row) * size_t(a.width) + size_t(x)) * 4;
            const bool used = y < 3 && x < 7;
            for (int32_t b = 0; b < 4; ++b) {
                const uint8_t expected = (used && b == 3) ? before1[at] : before0[at + size_t(b)];
                ASSERT_EQ(after[at + size_t(b)], expected) << "x " << x << " y " << y << " byte " << b;
            }
        }
    }
}

TEST(ClockOverlay, CopyAlphaNeedsMatchingRectanglesAndPixels)
{
    ClockOverlay overlay;
    overlay.AddPlane();
    overlay.AddPlane();
    overlay.SelectPlane(0);
    overlay.EnsurePlaneSize(10, 4, 25, 25);
    FillPattern(overlay, 1);
    overlay.SelectPlane(1);
    overlay.EnsurePlaneSize(10, 4, 25, 25);
    overlay.EnsurePlaneSize(11, 4, 25, 25);  // same 13 x 5 allocation, wider rectangle
    ASSERT_EQ(overlay.AllocationSize(), (Size{13, 5}));
    FillPattern(overlay, 2);
    overlay.SelectPlane(0);
    const std::vector<uint8_t> before(overlay.Pixels(), overlay.Pixels() + 13 * 5 * 4);

    overlay.CopyAlphaFromPlane(0, 1);
    EXPECT_EQ(std::vector<uint8_t>(overlay.Pixels(), overlay.Pixels() + 13 * 5 * 4), before);

    overlay.SelectPlane(1);
    overlay.ReleasePlaneBitmap();
    overlay.CopyAlphaFromPlane(0, 1);  // source without pixels
    overlay.CopyAlphaFromPlane(1, 0);  // destination without pixels
    overlay.CopyAlphaFromPlane(0, 5);  // no such plane
    overlay.SelectPlane(0);
    EXPECT_EQ(std::vector<uint8_t>(overlay.Pixels(), overlay.Pixels() + 13 * 5 * 4), before);
}

TEST(ClockColors, ScaleAndGreyRoundLikeMulDiv)
{
    // The default clock: back 0x800000 at 30 %, text 0xC0C0C0 at 60 %.
    EXPECT_EQ(ScaleColorByPercent(0x00800000, 30), 0x00260000u);  // 38
    EXPECT_EQ(ScaleColorByPercent(0x00C0C0C0, 60), 0x00737373u);  // 115.2 -> 115
    EXPECT_EQ(GreyFromPercent(30), 0x004D4D4Du);                   // 76.5 -> 77
    EXPECT_EQ(GreyFromPercent(60), 0x00999999u);                   // 153
    EXPECT_EQ(GreyFromPercent(100), 0x00FFFFFFu);
    EXPECT_EQ(GreyFromPercent(0), 0u);
    EXPECT_EQ(ScaleColorByPercent(0x00123456, 100), 0x00123456u);
    EXPECT_EQ(ScaleColorByPercent(0x00FFFFFF, 0), 0u);
    // The fourth byte is dropped; out-of-range percentages keep low 8 bits.
    EXPECT_EQ(ScaleColorByPercent(0xFF000000, 100), 0u);
    EXPECT_EQ(ScaleColorByPercent(0x000000FF, 200), 0x000000FEu);  // 510 & 0xFF
    EXPECT_EQ(ScaleColorByPercent(0x00010203, 50), 0x00010102u);   // 1.5 -> 2, 1 -> 1, 0.5 -> 1
    EXPECT_EQ(GreyFromPercent(101), 0x00020202u);                  // 258 & 0xFF
}

} // namespace
} // namespace horavel
