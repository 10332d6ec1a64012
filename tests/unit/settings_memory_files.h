// Profile files held in memory, for the document and persistence tests.
#pragma once

#include "settings/profile_files.h"

#include <map>
#include <set>

namespace horavel::testing {

class MemoryProfileFiles final : public ProfileFiles {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders{""};   // folders that exist ("" is the root)
    bool failReads = false;
    bool failReplace = false;
    int reads = 0;
    int replaces = 0;

    std::optional<std::string> ReadOrCreate(const std::string& path) override
    {
        ++reads;
        if (failReads)
            return std::nullopt;
        auto it = files.find(path);
        if (it != files.end())
            return it->second;
        if (!folders.count(FolderOf(path)))
            return std::nullopt;
        files[path];
        return std::string();
    }

    bool Replace(const std::string& path, std::string_view bytes) override
    {
        ++replaces;
        if (failReplace || !folders.count(FolderOf(path)))
            return false;
        files[path] = std::string(bytes);
        return true;
    }

    static std::string FolderOf(const std::string& path)
    {
        const size_t slash = path.find_last_of("\\/");
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }
};

} // namespace horavel::testing
