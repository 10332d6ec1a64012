#include "settings/ini_document.h"

#include <new>

namespace horavel {

namespace {

constexpr bool IsIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

constexpr bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

std::string_view TrimLeft(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsIniSpace(text[i]))
        ++i;
    return text.substr(i);
}

std::string_view TrimRight(std::string_view text)
{
    size_t n = text.size();
    while (n > 0 && IsIniSpace(text[n - 1]))
        --n;
    return text.substr(0, n);
}

} // namespace

std::string_view TrimIniSpace(std::string_view text)
{
    return TrimRight(TrimLeft(text));
}

void IniDocument::ReadProfileFile(ProfileFiles& files, const std::string& path)
{
    m_read.clear();
    m_readOk = false;
    m_cursor = 0;
    m_lastSection = 0;
    if (path.empty())
        return;
    try {
        if (std::optional<std::string> bytes = files.ReadOrCreate(path)) {
            m_read = std::move(*bytes);
            m_readOk = true;
        }
    } catch (const std::bad_alloc&) {
        m_read.clear();
    }
}

void IniDocument::SetReadText(std::string bytes)
{
    m_read = std::move(bytes);
    m_readOk = true;
    m_cursor = 0;
    m_lastSection = 0;
}

bool IniDocument::ReadLine(std::string& line)
{
    line.clear();
    const size_t length = m_read.size();
    if (m_cursor >= length)
        return false;
    const size_t start = m_cursor;
    while (m_cursor < length && !IsLineEnd(m_read[m_cursor]))
        ++m_cursor;
    line.assign(m_read, start, m_cursor - start);
    // A line that runs to the end of the text has no line end to step over.
    if (m_cursor < length) {
        ++m_cursor;
        if (m_cursor < length && IsLineEnd(m_read[m_cursor]))
            ++m_cursor;
    }
    return true;
}

bool IniDocument::FindSection(std::string_view name)
{
    const size_t length = m_read.size();
    if (length == 0)
        return false;
    std::string header;
    header.reserve(name.size() + 2);
    header += '[';
    header += TrimIniSpace(name);
    header += ']';

    // Every ReadLine below moves the cursor forward (it is never at the end
    // when called), and the positions visited are the line starts, which
    // include the last section position; so the loop ends after one round.
    if (m_lastSection >= length)
        m_lastSection = 0;
    m_cursor = m_lastSection;
    size_t p = m_cursor;
    int wraps = 0;
    std::string line;
    for (;;) {
        ReadLine(line);
        if (TrimIniSpace(line) == header) {
            m_lastSection = p;
            return true;
        }
        p = m_cursor;
        if (p >= length) {
            p = 0;
            m_cursor = 0;
            if (++wraps > 1)   // cannot happen; bounds the loop all the same
                return false;
        }
        if (p == m_lastSection)
            return false;
    }
}

bool IniDocument::FindValue(std::string_view section, std::string_view key, std::string& value)
{
    value.clear();
    key = TrimIniSpace(key);
    if (!FindSection(section))
        return false;
    std::string line;
    while (ReadLine(line)) {
        std::string_view text = TrimLeft(line);
        if (text.empty())
            continue;
        if (text.front() == '[')
            return false;
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        if (TrimRight(text.substr(0, equals)) != key)
            continue;
        value.assign(text.substr(equals + 1));
        return !value.empty();
    }
    return false;
}

void IniDocument::StartProfileText()
{
    m_write = std::string();
    m_capacity = 0;
    m_composing = false;
    try {
        m_write.reserve(kGrowStep);
        m_capacity = kGrowStep;
        m_composing = true;
    } catch (const std::bad_alloc&) {
    }
}

void IniDocument::AppendText(std::string_view text)
{
    if (!m_composing)
        return;
    const size_t needed = m_write.size() + text.size();
    if (needed > m_capacity) {
        // The capacity the 100000-byte steps would reach, in one allocation.
        const size_t steps = (needed - m_capacity + kGrowStep - 1) / kGrowStep;
        const size_t grown = m_capacity + steps * kGrowStep;
        try {
            m_write.reserve(grown);
        } catch (const std::exception&) {
            return;
        }
        m_capacity = grown;
    }
    m_write.append(text);
}

void IniDocument::WriteSectionHeader(std::string_view name)
{
    std::string line;
    line += '[';
    line += TrimIniSpace(name);
    line += "]\r\n";
    AppendText(line);
}

void IniDocument::WriteKeyValue(std::string_view key, std::string_view value)
{
    std::string line(TrimIniSpace(key));
    line += '=';
    line += value;
    line += "\r\n";
    AppendText(line);
}

IniDocument::WriteResult IniDocument::WriteProfileFile(ProfileFiles& files, const std::string& path,
                                                       std::string_view previous) const
{
    if (!m_composing || m_write.empty())
        return WriteResult::NothingComposed;
    if (m_write == previous)
        return WriteResult::Unchanged;
    if (path.empty())
        return WriteResult::Failed;
    try {
        return files.Replace(path, m_write) ? WriteResult::Written : WriteResult::Failed;
    } catch (const std::exception&) {
        return WriteResult::Failed;
    }
}

} // namespace horavel
