// Profile files through Win32: exclusive reading that creates a missing file,
// and replacement of a link's target through a flushed temporary file and
// ReplaceFile, or a rewrite in place where no temporary file can be made.
#pragma once

#include "settings/profile_files.h"

#include <cstdint>

namespace horavel {

// Paths are texts of one code page (0 for the ANSI one, see ProfileLocation);
// every file is opened by its wide name.
class Win32ProfileFiles final : public ProfileFiles {
public:
    explicit Win32ProfileFiles(uint32_t codePage = 0) : m_codePage(codePage) {}
    std::optional<std::string> ReadOrCreate(const std::string& path) override;
    // Fails, leaving everything as it was, also when the profile is
    // read-only or held open by someone else.
    bool Replace(const std::string& path, std::string_view bytes) override;
    void RemoveLeftovers(const std::string& path) override;

private:
    uint32_t m_codePage;
};

} // namespace horavel
