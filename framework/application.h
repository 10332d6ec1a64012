// The application object's base: one per module, named after the module
// unless a name is given.
#pragma once

#include <string>

namespace horavel::framework {

class Application {
public:
    // nullptr: the module's file name without extension, known at start-up.
    explicit Application(const wchar_t* appName = nullptr);
    virtual ~Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Called once at module start-up, after the module state is known.
    virtual bool InitInstance();

    const std::wstring& Name() const;

private:
    std::wstring m_explicitName;
};

} // namespace horavel::framework
