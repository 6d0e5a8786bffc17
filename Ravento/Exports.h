// What the module exports to the host: the registration record and its two entry points.
// Tests that link the plugin in reach them through this header.
#pragma once

#include <memory>

#include "orvane/OrvanePlugin.h"
#include "orvane/PluginRegistration.h"
#include "orvane/SdkApi.h"

// The module's one plugin object; getPlugin hands out this holder's address.
extern std::shared_ptr<Orvane::Plugin::OrvanePlugin> pluginHolder;

extern "C" {
// Not const: the record belongs in the module's initialised data. Nothing writes it.
ORVANE_DLL_EXPORT extern Orvane::Plugin::PluginRegistration exports;
ORVANE_DLL_EXPORT std::shared_ptr<Orvane::Plugin::OrvanePlugin>* getPlugin() noexcept;
ORVANE_DLL_EXPORT void deleteMe() noexcept;
}
