// The plug-in's application object: named after the module, nothing else of
// its own.
#pragma once

#include "framework/application.h"

#include <string>

namespace horavel {

class PluginApp : public framework::Application {
public:
    PluginApp() : framework::Application(nullptr) {}
};

PluginApp& ThePluginApp();

// The module's file name without folder and extension: the
// profile file is named after it.
std::wstring ModuleExeName();

} // namespace horavel
