// The 64-byte registration record every plugin module exports under the name "exports".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "orvane/OrvanePlugin.h"

namespace Orvane::Plugin {

constexpr std::int32_t kSdkRevision = 95;

using CreatePluginFn = std::shared_ptr<OrvanePlugin>* (*)();
using ReleasePluginFn = void (*)();

// Little-endian, 8-byte pointers; the 4 bytes after each 32-bit field are padding, zero in a
// statically initialised record.
struct PluginRegistration {
    std::int32_t sdkRevision;
    const char* sourceFile;
    const char* typeName;
    const char* description;
    const char* versionText;
    std::int32_t pluginKind;
    CreatePluginFn createEntry; // getPlugin
    ReleasePluginFn releaseEntry; // deleteMe
};

static_assert(sizeof(void*) == 8, "plugin modules are 64-bit");
static_assert(sizeof(PluginRegistration) == 64);
static_assert(offsetof(PluginRegistration, sourceFile) == 8);
static_assert(offsetof(PluginRegistration, pluginKind) == 40);
static_assert(offsetof(PluginRegistration, createEntry) == 48);
static_assert(offsetof(PluginRegistration, releaseEntry) == 56);

} // namespace Orvane::Plugin

// The module's exported names, undecorated.
#define ORVANE_EXPORTS_SYMBOL "exports"
#define ORVANE_GET_PLUGIN_SYMBOL "getPlugin"
#define ORVANE_DELETE_ME_SYMBOL "deleteMe"
