#include "settings/profile_location.h"

namespace horavel {

namespace {

// The C locale's lower case: ASCII letters only, every other byte unchanged
// (the location is worked out before the plug-in sets any locale).
std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// Applies one switch: when it occurs, the instance name becomes the character
// after its first occurrence, or empty when the line ends there.
void ApplySwitch(const std::string& line, std::string_view name, std::string& instance)
{
    const size_t at = line.find(name);
    if (at == std::string::npos)
        return;
    const size_t next = at + name.size();
    instance = next < line.size() ? line.substr(next, 1) : std::string();
}

} // namespace

std::string InstanceNameFromCommandLine(std::string_view commandLine)
{
    const std::string line = LowerAscii(commandLine);
    std::string instance;
    ApplySwitch(line, "-inst:", instance);
    ApplySwitch(line, "/inst:", instance);
    return instance;
}

std::string_view FolderOfProgram(std::string_view path)
{
    const size_t slash = path.rfind('\\');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

std::optional<ProfileLocation> BuildProfileLocation(const ProfileInputs& inputs)
{
    std::string folder;
    if (UsesUsersFolder(inputs.platformId, inputs.storeInUsersFolder)) {
        if (inputs.appDataFolder.empty())
            return std::nullopt;
        folder = inputs.appDataFolder + "\\Norvale\\";
    } else {
        folder = std::string(FolderOfProgram(inputs.hostProgramPath));
        // No folder (the host's path could not be had whole): a relative
        // "Plugins\" would land in whatever the current folder is.
        if (folder.empty())
            return std::nullopt;
    }

    ProfileLocation location;
    location.instanceName = InstanceNameFromCommandLine(inputs.commandLine);
    if (!location.instanceName.empty())
        folder += "Instances\\" + location.instanceName + "\\";
    folder += "Plugins\\";
    location.folder = folder;
    location.fileName = inputs.moduleName + ".ini";
    location.path = location.folder + location.fileName;
    location.codePage = inputs.codePage;
    return location;
}

} // namespace horavel
