// Feeds arbitrary bytes to the profile reader: line splitting, the circular
// section search, key lookups with names taken from the input itself, and a
// whole load and save of the settings. Checks the reader's own invariants on
// the way; the sanitizers catch reads outside the buffer.
#include "settings/ini_document.h"
#include "settings/settings_persistence.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

namespace {

using namespace horavel;

class OneFile final : public ProfileFiles {
public:
    explicit OneFile(std::string bytes) : m_bytes(std::move(bytes)) {}
    std::optional<std::string> ReadOrCreate(const std::string&) override { return m_bytes; }
    bool Replace(const std::string&, std::string_view bytes) override
    {
        m_bytes.assign(bytes);
        return true;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Lines: each read makes progress, no line holds a line end, and the
    // lines and their ends together cover the whole text.
    IniDocument doc;
    doc.SetReadText(text);
    std::string line;
    size_t before = doc.Cursor();
    size_t covered = 0;
    while (doc.ReadLine(line)) {
        Check(doc.Cursor() > before && doc.Cursor() <= size);
        Check(line.find_first_of("\r\n") == std::string::npos);
        covered += line.size() + (doc.Cursor() - before - line.size());
        before = doc.Cursor();
    }
    Check(covered == size && doc.Cursor() == size);

    // Lookups with section and key names cut from the input, so that the
    // fuzzer can steer them onto its own headers and keys.
    const size_t cut = size ? data[0] % 32 : 0;
    const std::string_view section = std::string_view(text).substr(size > 1 ? 1 : size, cut);
    const std::string_view key = std::string_view(text).substr(std::min(size, 1 + cut), size > 2 ? data[size - 1] % 16 : 0);
    std::string value;
    for (int round = 0; round < 3; ++round) {
        doc.FindSection(section);
        Check(doc.Cursor() <= size && doc.LastSectionPosition() < std::max<size_t>(size, 1));
        if (doc.FindValue(section, key, value))
            Check(!value.empty() && value.find_first_of("\r\n") == std::string::npos);
        doc.FindValue("COMMON", "Format", value);
        doc.FindValue("DIALOG", "DlgWndPosX", value);
    }

    // A whole load, and a save that must give text that loads back to the
    // same settings.
    OneFile file(text);
    SettingsStore store;
    LoadSettingsFromProfile(store, file, ProfileLocation{"", "F\\", "H.ini", "F\\H.ini"});
    SaveSettingsToProfile(store, file);
    SettingsStore again;
    LoadSettingsFromProfile(again, file, store.Profile());
    // Texts holding a line end cannot survive a round trip; everything else must.
    const SettingsRecord live = store.Live();
    if (live.FontName.find_first_of("\r\n") == std::string::npos &&
        live.Format.find_first_of("\r\n") == std::string::npos)
        Check(again.Live() == live && again.GetDialogPosition() == store.GetDialogPosition());
    return 0;
}
