#include "core/settings_store.h"

namespace horavel {

SettingsRecord SettingsStore::Live() const
{
    std::lock_guard<std::mutex> lock(m_liveLock);
    return m_live;
}

void SettingsStore::SetLive(const SettingsRecord& record)
{
    std::lock_guard<std::mutex> lock(m_liveLock);
    m_live = record;
}

void SettingsStore::ApplyCurrentRecord()
{
    // Before any load there is no record 0; the live record then stays.
    if (m_records.empty())
        return;
    SetLive(m_records.front());
}

void SettingsStore::StoreCurrentRecord()
{
    SettingsRecord live = Live();
    if (m_records.empty())
        m_records.push_back(std::move(live));
    else
        m_records.front() = std::move(live);
}

void SettingsStore::TakeSnapshot()
{
    StoreCurrentRecord();
    m_snapshot = m_records;
}

void SettingsStore::RestoreSnapshot()
{
    // Without a snapshot there is nothing to go back to; an empty copy would
    // lose record 0.
    if (m_snapshot.empty())
        return;
    m_records = m_snapshot;
    ApplyCurrentRecord();
}

void SettingsStore::RestoreDefaults()
{
    SetLive(m_defaults);
}

DialogPosition SettingsStore::GetDialogPosition() const
{
    std::lock_guard<std::mutex> lock(m_positionLock);
    return m_dialogPosition;
}

void SettingsStore::SetDialogPosition(DialogPosition position)
{
    std::lock_guard<std::mutex> lock(m_positionLock);
    m_dialogPosition = position;
}

void LoadTableDefaults(SettingsStore& store)
{
    const SettingsRecord defaults = TableDefaults();
    store.SetDialogPosition(kNoDialogPosition);
    store.SetDefaultsRecord(defaults);
    store.SetLive(defaults);
    store.AppendRecord(defaults);
    store.ApplyCurrentRecord();
}

} // namespace horavel
