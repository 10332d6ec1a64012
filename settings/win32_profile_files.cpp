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
    if (path.empty() || !ProfileIsWritable(path))
        return false;
    const std::string temporary = TemporaryPathFor(path);
    bool ok;
    {
        FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid())
            return false;
        ok = true;
        size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD wrote = 0;
            ok = WriteFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote,
                           nullptr) && wrote > 0;
            done += wrote;
        }
        ok = ok && FlushFileBuffers(file.Get());
        ok = file.Close() && ok;
    }
    ok = ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileA(temporary.c_str());
    return ok;
}

} // namespace horavel
