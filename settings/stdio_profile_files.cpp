#include "settings/profile_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace horavel {

std::string TemporaryPathFor(const std::string& path)
{
    return path + ".new";
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
    const std::string temporary = TemporaryPathFor(path);
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
#if !defined(_WIN32)
    ok = ok && ::fsync(::fileno(file)) == 0;
#endif
    ok = std::fclose(file) == 0 && ok;
    std::error_code error;
    if (ok) {
        std::filesystem::rename(temporary, path, error);
        ok = !error;
    }
    if (!ok)
        std::filesystem::remove(temporary, error);
    return ok;
}

} // namespace horavel
