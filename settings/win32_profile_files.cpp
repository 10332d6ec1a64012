#include "settings/win32_profile_files.h"

#include "settings/in_place_rewrite.h"
#include "settings/profile_settings.h"

#include <windows.h>

#include <string>
#include <vector>

namespace horavel {

namespace {

// The profile's path (text of `codePage`) as the wide file functions take
// it, beyond MAX_PATH too ("\\?\" before a long drive path, "\\?\UNC\" before
// a long share path). Empty when the path has no wide form.
std::wstring WidePath(const std::string& path, uint32_t codePage)
{
    return WidenExactly(LongPathForm(path), codePage).value_or(std::wstring());
}

std::vector<std::wstring> TemporaryPathsFor(const std::wstring& target)
{
    return {target + L".new", target + L".new1", target + L".new2", target + L".new3"};
}

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
bool ProfileIsWritable(const std::wstring& path)
{
    // The attribute is checked by itself too: a process with full rights on
    // the file system (root under Wine) may open a read-only file for writing.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    FileHandle probe(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe.Valid())
        return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;
}

// "\\?\C:\..." and "\\?\UNC\server\share\..." back to their plain forms.
std::wstring PlainForm(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

// The file a link at `path` finally leads to; `path` itself when it is no
// link or cannot be followed (a dangling link, a missing file).
std::wstring LinkTarget(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return path;
    FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid())
        return path;
    std::wstring final(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(file.Get(), final.data(), static_cast<DWORD>(final.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= final.size())
        return path;
    final.resize(n);
    const std::wstring target = PlainForm(final);
    // Without a link on the way, keep the name the caller gave (its letter
    // case, its short form).
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, target.c_str(), -1, PlainForm(path).c_str(), -1) ==
        CSTR_EQUAL)
        return path;
    return target.size() >= MAX_PATH - 12 ? (target.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + target.substr(2)
                                                                              : L"\\\\?\\" + target)
                                          : target;
}

// False under Wine, whose ntdll names itself.
bool ReplaceFileIsAtomic()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
}

// The number of names the file has (1 when it cannot be told).
DWORD HardLinkCount(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &information))
        return 1;
    return information.nNumberOfLinks;
}

// The owner, group and access list of a file, as bytes to compare; empty
// when they cannot be read.
std::string SecurityOf(const std::wstring& path)
{
    constexpr SECURITY_INFORMATION kWhat =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), kWhat, nullptr, 0, &needed);
    if (needed == 0)
        return {};
    std::string descriptor(needed, '\0');
    if (!GetFileSecurityW(path.c_str(), kWhat, descriptor.data(), needed, &needed))
        return {};
    descriptor.resize(needed);
    return descriptor;
}

bool IsPlainFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveStaleTemporaries(const std::wstring& target)
{
    for (const std::wstring& temporary : TemporaryPathsFor(target)) {
        if (!IsPlainFile(temporary))
            continue;
        SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temporary.c_str());
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

bool WriteAt(HANDLE file, uint64_t offset, std::string_view bytes)
{
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && WriteAll(file, bytes) && FlushFileBuffers(file);
}

bool CutAt(HANDLE file, uint64_t size)
{
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file) && FlushFileBuffers(file);
}

// The text over the start of a file that holds its copy (see
// settings/in_place_rewrite.h), then the file cut to the text's size.
bool OverwriteAndCut(HANDLE file, std::string_view text)
{
    return WriteAt(file, 0, text) && CutAt(file, text.size());
}

// Rewrites the existing file at `target` in place: it keeps its identity,
// links and security, and a kill or a failure at any moment leaves a file
// that reads as the old text or the new one.
bool RewriteInPlace(const std::wstring& target, std::string_view bytes)
{
    FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    LARGE_INTEGER size{};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size))
        return false;
    const InPlaceRewrite plan = PlanInPlaceRewrite(static_cast<uint64_t>(size.QuadPart), bytes);
    if (!WriteAt(file.Get(), plan.copyOffset, plan.copy)) {
        // The copy did not fit (a full disk): the old text stays alone.
        CutAt(file.Get(), plan.copyOffset);
        return false;
    }
    bool ok = OverwriteAndCut(file.Get(), bytes);
    ok = file.Close() && ok;
    return ok;
}

// Creates the first temporary file beside `target` that can be made, holding
// `bytes`, flushed and closed. Empty when none can be made.
std::wstring WriteTemporary(const std::wstring& target, std::string_view bytes, DWORD attributes)
{
    for (const std::wstring& temporary : TemporaryPathsFor(target)) {
        FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (!file.Valid())
            continue;
        bool ok = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get());
        ok = file.Close() && ok;
        if (ok)
            return temporary;
        DeleteFileW(temporary.c_str());
        return {};
    }
    return {};
}

} // namespace

std::optional<std::string> Win32ProfileFiles::ReadOrCreate(const std::string& profilePath)
{
    const std::wstring path = WidePath(profilePath, m_codePage);
    if (path.empty())
        return std::nullopt;
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
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
    file.Close();
    // A rewrite in place was interrupted: the text it stands for, and the
    // file made whole where its copy is (a best effort: the text holds).
    if (std::optional<RecoveredText> recovered = RecoverInterruptedRewrite(bytes)) {
        if (recovered->repair) {
            FileHandle writable(CreateFileW(LinkTarget(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
            if (writable.Valid())
                OverwriteAndCut(writable.Get(), recovered->text);
        }
        return std::move(recovered->text);
    }
    return bytes;
}

bool Win32ProfileFiles::Replace(const std::string& path, std::string_view bytes)
{
    const std::wstring wide = WidePath(path, m_codePage);
    if (wide.empty())
        return false;
    const std::wstring target = LinkTarget(wide);
    if (!ProfileIsWritable(target))
        return false;
    RemoveStaleTemporaries(target);

    // The temporary file starts with the profile's own attributes (hidden,
    // system, not indexed...), so that they survive wherever the swap below
    // does not carry them over.
    const DWORD old = GetFileAttributesW(target.c_str());
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = exists && (old & kKept) ? (old & kKept) : FILE_ATTRIBUTE_NORMAL;

    // A profile with further hard links would lose them in any swap: it is
    // rewritten in place.
    if (exists && HardLinkCount(target) > 1)
        return RewriteInPlace(target, bytes);

    const std::wstring temporary = WriteTemporary(target, bytes, attributes);
    // Where the swap is a rename (see below) the new file keeps the security
    // it was created with; a profile whose own differs (under Wine: another
    // Unix mode) is rewritten in place rather than lose it.
    if (!temporary.empty() && exists && !ReplaceFileIsAtomic() && SecurityOf(temporary) != SecurityOf(target)) {
        SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temporary.c_str());
        return RewriteInPlace(target, bytes);
    }
    if (temporary.empty())
        // The folder takes no new file (no rights to create, a full
        // directory, every temporary name taken): the profile itself is
        // writable, so it is rewritten where it is.
        return RewriteInPlace(target, bytes);

    // ReplaceFile keeps the replaced file's attributes, security, creation
    // time and short name. Wine's ReplaceFile empties the profile before it
    // moves the new text in (a host killed then leaves an empty profile), so
    // there the swap is a plain rename over the old file, which is atomic;
    // the attributes came with the temporary file. A profile that does not
    // exist yet is simply moved into place.
    bool ok = exists && ReplaceFileIsAtomic()
                  ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                 nullptr) != FALSE
                  : MoveFileExW(temporary.c_str(), target.c_str(),
                                MOVEFILE_WRITE_THROUGH | (exists ? MOVEFILE_REPLACE_EXISTING : 0)) != FALSE;
    if (!ok && exists && IsPlainFile(temporary) && IsPlainFile(target))
        // The swap was refused while both files are still where they were
        // (the folder forbids renames, for one): rewrite the profile in place.
        ok = RewriteInPlace(target, bytes);
    if (IsPlainFile(temporary)) {
        SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

void Win32ProfileFiles::RemoveLeftovers(const std::string& path)
{
    const std::wstring wide = WidePath(path, m_codePage);
    if (!wide.empty())
        RemoveStaleTemporaries(LinkTarget(wide));
}

} // namespace horavel
