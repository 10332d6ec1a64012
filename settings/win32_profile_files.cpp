#include "settings/win32_profile_files.h"

#include <windows.h>

namespace horavel {

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    bool Close()
    {
        if (!Valid())
            return true;
        const BOOL ok = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE m_handle;
};

// Whether the profile could be written in place right now: it does not exist,
// or it can be opened for writing with exclusive access (not read-only, not
// held open by another process).
bool ProfileIsWritable(const std::string& path)
{
    // The attribute is checked by itself too: a process with full rights on
    // the file system (root under Wine) may open a read-only file for writing.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    FileHandle probe(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe.Valid())
        return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;
}

// The file a link at `path` finally leads to, in its plain form; `path`
// itself when it is no link or cannot be followed (a dangling link, a
// missing file).
std::string LinkTarget(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return path;
    FileHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid())
        return path;
    char final[MAX_PATH * 4] = {};
    const DWORD n = GetFinalPathNameByHandleA(file.Get(), final, sizeof final, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof final)
        return path;
    std::string target(final, n);
    // "\\?\C:\..." and "\\?\UNC\server\share\..." back to their plain forms.
    if (target.rfind("\\\\?\\UNC\\", 0) == 0)
        target = "\\\\" + target.substr(8);
    else if (target.rfind("\\\\?\\", 0) == 0)
        target = target.substr(4);
    // Without a link on the way, keep the name the caller gave (its letter
    // case, its short form).
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, target.c_str(), -1, path.c_str(), -1) == CSTR_EQUAL
               ? path
               : target;
}

bool IsPlainFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveStaleTemporaries(const std::string& target)
{
    for (const std::string& temporary : TemporaryPathsFor(target)) {
        if (!IsPlainFile(temporary))
            continue;
        SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temporary.c_str());
    }
}

bool WriteAll(HANDLE file, std::string_view bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote, nullptr) ||
            wrote == 0)
            return false;
        done += wrote;
    }
    return true;
}

// Rewrites the existing file at `target` from its start, then cuts it to the
// new length: the file keeps its identity, links and security, but a failure
// half-way leaves it torn.
bool RewriteInPlace(const std::string& target, std::string_view bytes)
{
    FileHandle file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file.Valid())
        return false;
    bool ok = WriteAll(file.Get(), bytes) && SetEndOfFile(file.Get()) && FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    return ok;
}

// Creates the first temporary file beside `target` that can be made, holding
// `bytes`, flushed and closed. Empty when none can be made.
std::string WriteTemporary(const std::string& target, std::string_view bytes, DWORD attributes)
{
    for (const std::string& temporary : TemporaryPathsFor(target)) {
        FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (!file.Valid())
            continue;
        bool ok = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get());
        ok = file.Close() && ok;
        if (ok)
            return temporary;
        DeleteFileA(temporary.c_str());
        return {};
    }
    return {};
}

} // namespace

std::optional<std::string> Win32ProfileFiles::ReadOrCreate(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > 0x7FFFFFFF)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr))
            return std::nullopt;
        if (got == 0)
            break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

bool Win32ProfileFiles::Replace(const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return false;
    const std::string target = LinkTarget(path);
    if (!ProfileIsWritable(target))
        return false;
    RemoveStaleTemporaries(target);

    // The temporary file starts with the profile's own attributes (hidden,
    // system, not indexed...), so that they survive wherever the swap below
    // does not carry them over.
    const DWORD old = GetFileAttributesA(target.c_str());
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = exists && (old & kKept) ? (old & kKept) : FILE_ATTRIBUTE_NORMAL;

    const std::string temporary = WriteTemporary(target, bytes, attributes);
    if (temporary.empty())
        // The folder takes no new file (no rights to create, a full
        // directory, every temporary name taken): the profile itself is
        // writable, so it is rewritten where it is.
        return RewriteInPlace(target, bytes);

    // ReplaceFile keeps the replaced file's attributes, security, creation
    // time and short name; a profile that does not exist yet is simply moved
    // into place.
    bool ok = exists ? ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                    nullptr, nullptr) != FALSE
                     : MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok && exists && IsPlainFile(temporary) && IsPlainFile(target))
        // The swap was refused while both files are still where they were
        // (the folder forbids renames, for one): rewrite the profile in place.
        ok = RewriteInPlace(target, bytes);
    if (IsPlainFile(temporary)) {
        SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temporary.c_str());
    }
    return ok;
}

void Win32ProfileFiles::RemoveLeftovers(const std::string& path)
{
    if (path.empty())
        return;
    RemoveStaleTemporaries(LinkTarget(path));
}

} // namespace horavel
