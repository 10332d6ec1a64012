#include "settings/profile_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace horavel {

namespace fs = std::filesystem;

namespace {

bool IsPlainFile(const std::string& path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !error && fs::exists(status) && !fs::is_directory(status);
}

// The file a symbolic link at `path` finally leads to; `path` itself when it
// is no link or the link leads nowhere.
std::string LinkTarget(const std::string& path)
{
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error)))
        return path;
    const fs::path target = fs::canonical(path, error);
    return error ? path : target.string();
}

void RemoveStaleTemporaries(const std::string& target)
{
    std::error_code error;
    for (const std::string& temporary : TemporaryPathsFor(target))
        if (IsPlainFile(temporary))
            fs::remove(temporary, error);
}

bool WriteAndClose(std::FILE* file, std::string_view bytes)
{
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
#if !defined(_WIN32)
    ok = ok && ::fsync(::fileno(file)) == 0;
#endif
    return std::fclose(file) == 0 && ok;
}

} // namespace

std::vector<std::string> TemporaryPathsFor(const std::string& path)
{
    return {path + ".new", path + ".new1", path + ".new2", path + ".new3"};
}

std::optional<std::string> StdioProfileFiles::ReadOrCreate(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        // Create it empty, never truncating one that appeared meanwhile.
        std::FILE* created = std::fopen(path.c_str(), "ab");
        if (!created)
            return std::nullopt;
        std::fclose(created);
        file = std::fopen(path.c_str(), "rb");
        if (!file)
            return std::nullopt;
    }
    std::string bytes;
    char chunk[65536];
    bool failed = false;
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file);
        bytes.append(chunk, got);
        if (got < sizeof chunk) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return bytes;
}

bool StdioProfileFiles::Replace(const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return false;
    const std::string target = LinkTarget(path);
    std::error_code error;
    const fs::file_status old = fs::status(target, error);
    const bool exists = !error && fs::exists(old);
    if (exists && !fs::is_regular_file(old))
        return false;
    RemoveStaleTemporaries(target);

    std::string temporary;
    for (const std::string& candidate : TemporaryPathsFor(target)) {
        // "x": never open a name that someone else holds.
        std::FILE* file = std::fopen(candidate.c_str(), "wbx");
        if (!file)
            continue;
        if (!WriteAndClose(file, bytes)) {
            fs::remove(candidate, error);
            return false;
        }
        temporary = candidate;
        break;
    }
    if (temporary.empty()) {
        // No new file can be made beside the profile: rewrite it in place.
        std::FILE* file = std::fopen(target.c_str(), "wb");
        return file && WriteAndClose(file, bytes);
    }

    bool ok = true;
    if (exists)
        fs::permissions(temporary, old.permissions(), fs::perm_options::replace, error);
    fs::rename(temporary, target, error);
    ok = !error;
    if (!ok)
        fs::remove(temporary, error);
    return ok;
}

void StdioProfileFiles::RemoveLeftovers(const std::string& path)
{
    if (!path.empty())
        RemoveStaleTemporaries(LinkTarget(path));
}

} // namespace horavel
