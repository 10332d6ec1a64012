// File access for the profile: the two things the INI document needs of a
// file system, behind an interface so that the document runs on texts in
// memory as well as on real files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace horavel {

class ProfileFiles {
public:
    virtual ~ProfileFiles() = default;

    // Opens `path` for reading with exclusive access, creating it empty when
    // it does not exist (its folder must exist), and returns all its bytes,
    // or the text an interrupted rewrite in place stands for (the file is
    // then made whole where it can be). nullopt when it cannot be opened or
    // read.
    virtual std::optional<std::string> ReadOrCreate(const std::string& path) = 0;

    // Makes `bytes` the whole content of the profile at `path`, keeping what
    // the file system knows about it: a symbolic link is followed and its
    // target gets the text; the text goes to a temporary file beside the
    // target, is flushed, and takes the target's place keeping its attributes
    // (and, where the system can, its security). When no temporary file can be
    // made there, the target is rewritten in place, in steps that leave at
    // any moment a file ReadOrCreate reads as the old text or the new one
    // (settings/in_place_rewrite.h). No temporary file is left behind; on
    // failure the result is false.
    virtual bool Replace(const std::string& path, std::string_view bytes) = 0;

    // Removes the temporary files that an interrupted save left beside the
    // profile (or beside the target it links to).
    virtual void RemoveLeftovers(const std::string& /*path*/) {}
};

// Real files through the C library and std::filesystem; on POSIX systems the
// temporary file is synced before the rename and takes the old file's mode.
class StdioProfileFiles final : public ProfileFiles {
public:
    std::optional<std::string> ReadOrCreate(const std::string& path) override;
    bool Replace(const std::string& path, std::string_view bytes) override;
    void RemoveLeftovers(const std::string& path) override;
};

// The names Replace tries in turn for its temporary file beside `path`
// (".new", then ".new1" to ".new3", for when a stale folder or a file that
// cannot be removed holds a name). Any of them that is a file when a save
// begins was left by an interrupted save.
std::vector<std::string> TemporaryPathsFor(const std::string& path);

} // namespace horavel
