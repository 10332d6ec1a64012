// The profile as an INI document: read once as a whole and looked up line by
// line, or composed afresh in memory and written in one piece.
//
// Contract:
// - Reading. ReadProfileFile keeps the file's bytes exactly (no terminator).
//   A missing, unreadable or empty file behaves like a text without any
//   section: every lookup fails.
// - Lines end at the first CR or LF; one more CR or LF right after it belongs
//   to the same line end (CR LF, LF, CR, LF CR, CR CR, LF LF). A last line
//   without a line end is read like any other line.
// - White space means blank, \t, \v and \f.
// - A section header is a line that, trimmed at both ends, is exactly
//   "[" + name + "]" (byte comparison, case-sensitive, inner blanks count).
//   A section ends at the next line starting (after white space) with "[",
//   valid header or not.
// - A key line holds "="; its key is the text before the first "=", trimmed;
//   its value is everything after it, unchanged. Only the first occurrence of
//   a key in a section counts, and an empty value counts as absent.
// - Every byte sequence is read without a read outside the buffer; malformed
//   lines are only skipped.
// - Writing. The composed text is written only when it differs from the text
//   read, and then atomically: the old file survives any failure.
#pragma once

#include "settings/profile_files.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace horavel {

class IniDocument {
public:
    static constexpr size_t kGrowStep = 100000;

    // --- reading ------------------------------------------------------------
    // Replaces the read text with the file's bytes (none when it cannot be
    // read) and resets the cursor and the last section position.
    void ReadProfileFile(ProfileFiles& files, const std::string& path);
    // Same as a successful read of `bytes`.
    void SetReadText(std::string bytes);
    // Whether the last ReadProfileFile got the file's bytes (an empty file
    // created by it counts as read).
    bool ReadSucceeded() const { return m_readOk; }
    const std::string& ReadText() const { return m_read; }
    std::string TakeReadText() { return std::move(m_read); }

    // Reads the line at the cursor into `line` (line end excluded) and moves
    // past its line end. False, with `line` empty, at the end of the text.
    bool ReadLine(std::string& line);

    // Circular search for "[" + trimmed name + "]", starting at the header of
    // the section found last. On success the cursor stands after the header.
    bool FindSection(std::string_view name);

    // The value of `key` in `section`; true only when the key is found with a
    // non-empty value.
    bool FindValue(std::string_view section, std::string_view key, std::string& value);

    size_t Cursor() const { return m_cursor; }
    size_t LastSectionPosition() const { return m_lastSection; }

    // --- composing ------------------------------------------------------------
    // Starts an empty text with a capacity of 100000 bytes.
    void StartProfileText();
    // Appends the bytes, growing the capacity in steps of 100000 bytes; when
    // memory runs out, or no text was started, the bytes are dropped.
    void AppendText(std::string_view text);
    void WriteSectionHeader(std::string_view name);
    void WriteKeyValue(std::string_view key, std::string_view value);

    const std::string& ComposedText() const { return m_write; }
    size_t Capacity() const { return m_capacity; }

    enum class WriteResult { NothingComposed, Unchanged, Written, Failed };
    // Writes the composed text to `path` unless it is empty or equal byte for
    // byte to `previous` (what the file held when it was read).
    WriteResult WriteProfileFile(ProfileFiles& files, const std::string& path,
                                 std::string_view previous) const;

private:
    std::string m_read;
    bool m_readOk = false;
    size_t m_cursor = 0;
    size_t m_lastSection = 0;

    bool m_composing = false;
    std::string m_write;
    size_t m_capacity = 0;
};

// White space at both ends (blank, \t, \v, \f) removed.
std::string_view TrimIniSpace(std::string_view text);

} // namespace horavel
