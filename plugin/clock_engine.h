// The clock of the DLL: the live settings, the overlay with DIB-section
// planes, the GDI text renderer and its font, the compositor, the wall clock
// and the frame pipeline that ties them together, and what the callbacks
// and the settings dialog ask of them. One instance, made on first use, so
// the dialog may ask for the clock text before any stream starts.
#pragma once

#include "ui/dialog_clock.h"

#include <cstdint>
#include <memory>

namespace horavel {

class ClockEngine final : public DialogClock {
public:
    ClockEngine();
    ~ClockEngine();
    ClockEngine(const ClockEngine&) = delete;
    ClockEngine& operator=(const ClockEngine&) = delete;

    // `start`: forces a re-render, hands the frame format to the compositor,
    // creates the clock font and gives the overlay its two planes.
    void Start(int32_t width, int32_t height, int32_t layout);
    // `process`, once its entry conditions hold: keeps the overlay current
    // and blends it onto the frame in place. Frames before the first Start
    // have no known format and are left alone.
    void Process(uint8_t* framePixels);

    SettingsStore& Settings() override;
    void RequestClockRedraw() override;
    std::string ClockText() const override;
    Size ClockSize() const override;
    void CreateClockFont() override;
    void SetPreviewWindow(HWND window) override;

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

ClockEngine& TheClockEngine();

} // namespace horavel
