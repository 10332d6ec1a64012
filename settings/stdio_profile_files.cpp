#include "settings/profile_files.h"

#include "settings/in_place_rewrite.h"

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

bool WriteAt(std::FILE* file, uint64_t offset, std::string_view bytes)
{
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
#if !defined(_WIN32)
    ok = ok && ::fsync(::fileno(file)) == 0;
#endif
    return ok;
}

// The new text over the start of the file at `target` that holds its copy
// (see settings/in_place_rewrite.h), then the file cut to the text's size.
bool OverwriteAndCut(std::FILE* file, const std::string& target, std::string_view text)
{
    const bool written = WriteAt(file, 0, text);
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written && closed)
        fs::resize_file(target, text.size(), error);
    return written && closed && !error;
}

// Rewrites the file at `target` in place without ever leaving it torn.
bool RewriteInPlace(const std::string& target, std::string_view text)
{
    std::FILE* file = std::fopen(target.c_str(), "r+b");
    if (!file)
        return false;
    std::error_code error;
    const uintmax_t oldSize = fs::file_size(target, error);
    if (error) {
        std::fclose(file);
        return false;
    }
    const InPlaceRewrite plan = PlanInPlaceRewrite(oldSize, text);
    if (!WriteAt(file, plan.copyOffset, plan.copy)) {
        // The copy did not fit (a full disk): the old text stays alone.
        std::fclose(file);
        fs::resize_file(target, oldSize, error);
        return false;
    }
    return OverwriteAndCut(file, target, text);
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
    // A rewrite in place was interrupted: the text it stands for, and the
    // file made whole where its copy is (a best effort: the text holds).
    if (std::optional<RecoveredText> recovered = RecoverInterruptedRewrite(bytes)) {
        const std::string target = LinkTarget(path);
        if (recovered->repair)
            if (std::FILE* writable = std::fopen(target.c_str(), "r+b"))
                OverwriteAndCut(writable, target, recovered->text);
        return std::move(recovered->text);
    }
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
        // No new file can be made beside the profile: rewrite it in place
        // (a profile that does not exist yet is made here).
        if (!exists) {
            std::FILE* file = std::fopen(target.c_str(), "wbx");
            return file && WriteAndClose(file, bytes);
        }
        return RewriteInPlace(target, bytes);
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
