// The persisted clock settings: the record, the table that gives every value
// its profile key, type code and default, and the store that holds the live
// record, the defaults record, the record and snapshot lists and the dialog
// position.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace horavel {

// The 17 persisted values, in table (and file) order. Members are named by
// their profile keys.
struct SettingsRecord {
    int32_t StringPosX = 0;      // thousandths of the frame width
    int32_t StringPosY = 0;      // thousandths of the frame height
    std::string FontName;        // face name; only 31 characters reach a font
    int32_t FontSize = 0;        // lfHeight
    int32_t FontWeight = 0;      // lfWeight
    uint8_t FontItalic = 0;
    uint8_t FontUnderline = 0;
    uint8_t FontStrikeOut = 0;
    uint8_t FontCharSet = 0;
    uint8_t FontQuality = 0;     // kept and saved; the clock font ignores it
    uint32_t TextColor = 0;      // COLORREF 0x00BBGGRR
    uint32_t BackColor = 0;      // COLORREF
    int32_t TextOpacity = 0;     // percent
    int32_t BackOpacity = 0;     // percent
    int32_t ShadowOffset = 0;    // percent of the text height
    std::string Format;          // strftime notation
    // 0: the clock is scaled from the 768 x 576 reference frame, frame width
    // / 768 across and frame height / 576 down; 1: by frame height / 576 in
    // both directions, so that its letters keep their shape on frames of
    // square pixels of any aspect.
    uint8_t KeepShape = 0;

    friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

// The record that every value takes from its table default.
SettingsRecord TableDefaults();

struct DialogPosition {
    int32_t x = -100;
    int32_t y = -100;
    friend bool operator==(const DialogPosition&, const DialogPosition&) = default;
};

// (-100, -100): no position stored.
inline constexpr DialogPosition kNoDialogPosition{-100, -100};

// Where the profile file is; all empty until a location was worked out.
struct ProfileLocation {
    std::string instanceName;   // empty, or the one character of the instance switch
    std::string folder;         // with a trailing backslash
    std::string fileName;       // module name + ".ini"
    std::string path;           // folder + fileName
    // The code page of the texts above: 0 for the system's ANSI code page,
    // 65001 (UTF-8) where a name has no form in that one.
    uint32_t codePage = 0;
    friend bool operator==(const ProfileLocation&, const ProfileLocation&) = default;
};

// One instance lives for the whole module lifetime. The live record is shared
// by the frame thread and the dialog thread, so it is only read and written
// under a small lock held for copies, never while drawing.
class SettingsStore {
public:
    SettingsStore() = default;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // --- the live record ---------------------------------------------------
    SettingsRecord Live() const;
    void SetLive(const SettingsRecord& record);
    // Runs edit(record) on the live record under the lock; keep it short.
    template <class Edit>
    void EditLive(Edit&& edit)
    {
        std::lock_guard<std::mutex> lock(m_liveLock);
        edit(m_live);
    }
    // Runs read(record) on the live record under the lock, for a reader that
    // copies only what it needs; keep it short.
    template <class Read>
    void ReadLive(Read&& read) const
    {
        std::lock_guard<std::mutex> lock(m_liveLock);
        read(static_cast<const SettingsRecord&>(m_live));
    }
    // Runs edit(x, y) on StringPosX and StringPosY under the lock (the frame
    // path clamps the position on every frame).
    template <class Edit>
    void EditLivePosition(Edit&& edit)
    {
        std::lock_guard<std::mutex> lock(m_liveLock);
        edit(m_live.StringPosX, m_live.StringPosY);
    }

    // --- defaults, record list, snapshot -------------------------------------
    const SettingsRecord& DefaultsRecord() const { return m_defaults; }
    void SetDefaultsRecord(const SettingsRecord& record) { m_defaults = record; }
    const std::vector<SettingsRecord>& Records() const { return m_records; }
    void AppendRecord(const SettingsRecord& record) { m_records.push_back(record); }
    const std::vector<SettingsRecord>& Snapshot() const { return m_snapshot; }

    void ApplyCurrentRecord();   // live := record 0
    void StoreCurrentRecord();   // record 0 := live
    void TakeSnapshot();         // StoreCurrentRecord, snapshot := copy of the records
    void RestoreSnapshot();      // records := copy of the snapshot, ApplyCurrentRecord
    void RestoreDefaults();      // live := defaults record, all 17 values

    DialogPosition GetDialogPosition() const;
    void SetDialogPosition(DialogPosition position);

    // --- where the profile is and what it held -------------------------------
    // Set when the settings are loaded, used again when they are saved: the
    // location of the last load, and the profile's bytes as they were read
    // (a save rewrites the file only when its new text differs from them).
    // No text when the profile could not be read: a save then leaves the file
    // alone, since it may hold settings that were never seen.
    ProfileLocation& Profile() { return m_profile; }
    const ProfileLocation& Profile() const { return m_profile; }
    std::optional<std::string>& ProfileText() { return m_profileText; }
    const std::optional<std::string>& ProfileText() const { return m_profileText; }

    // What the last load put into the live record and the dialog position.
    // After a load that could not read the profile, a value counts as changed
    // in the session when it differs from these.
    const SettingsRecord& LoadedRecord() const { return m_loadedRecord; }
    DialogPosition LoadedDialogPosition() const { return m_loadedPosition; }
    void SetLoadedValues(const SettingsRecord& record, DialogPosition position)
    {
        m_loadedRecord = record;
        m_loadedPosition = position;
    }

private:
    mutable std::mutex m_liveLock;
    SettingsRecord m_live;
    SettingsRecord m_defaults;
    std::vector<SettingsRecord> m_records;
    std::vector<SettingsRecord> m_snapshot;
    mutable std::mutex m_positionLock;
    DialogPosition m_dialogPosition{0, 0};
    ProfileLocation m_profile;
    std::optional<std::string> m_profileText;
    SettingsRecord m_loadedRecord;
    DialogPosition m_loadedPosition{0, 0};
};

// What loading amounts to when there is no profile: live record := the table
// defaults, defaults record := the same, the record list holds one record equal
// to them (appended, as every load does), dialog position := (-100, -100).
void LoadTableDefaults(SettingsStore& store);

} // namespace horavel
