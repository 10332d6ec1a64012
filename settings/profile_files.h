// File access for the profile: the two things the INI document needs of a
// file system, behind an interface so that the document runs on texts in
// memory as well as on real files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace horavel {

class ProfileFiles {
public:
    virtual ~ProfileFiles() = default;

    // Opens `path` for reading with exclusive access, creating it empty when
    // it does not exist (its folder must exist), and returns all its bytes.
    // nullopt when it cannot be opened or read.
    virtual std::optional<std::string> ReadOrCreate(const std::string& path) = 0;

    // Makes `bytes` the whole content of `path` in one step: the text goes to
    // a temporary file in the same folder, is flushed, and then replaces the
    // file. On any failure the old file is left exactly as it was, the
    // temporary file is removed, and the result is false.
    virtual bool Replace(const std::string& path, std::string_view bytes) = 0;
};

// Real files through the C library and std::filesystem; on POSIX systems the
// temporary file is synced before the rename.
class StdioProfileFiles final : public ProfileFiles {
public:
    std::optional<std::string> ReadOrCreate(const std::string& path) override;
    bool Replace(const std::string& path, std::string_view bytes) override;
};

// The name of the temporary file that Replace writes beside `path`.
std::string TemporaryPathFor(const std::string& path);

} // namespace horavel
