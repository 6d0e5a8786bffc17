// Export and import markers of the Orvane SDK library and of plugin modules.
#pragma once

#if defined(_WIN32)
#define ORVANE_DLL_EXPORT __declspec(dllexport)
#define ORVANE_DLL_IMPORT __declspec(dllimport)
#else
#define ORVANE_DLL_EXPORT __attribute__((visibility("default")))
#define ORVANE_DLL_IMPORT __attribute__((visibility("default")))
#endif

// Classes implemented by the SDK library itself (pluginsdk).
#if defined(ORVANE_BUILDING_SDK)
#define ORVANE_SDK_API ORVANE_DLL_EXPORT
#else
#define ORVANE_SDK_API ORVANE_DLL_IMPORT
#endif

// The plugin base class is compiled into every plugin module, which exports its members.
// Everyone else (the host, the SDK) only uses its layout and virtual table.
#if defined(ORVANE_PLUGIN_MODULE)
#define ORVANE_PLUGIN_BASE_API ORVANE_DLL_EXPORT
#else
#define ORVANE_PLUGIN_BASE_API
#endif

// Interfaces the host and plugins share by layout only. On ELF their type information must be
// visible so that a cast across module boundaries finds one type; Windows compares names.
#if defined(_WIN32)
#define ORVANE_INTERFACE
#else
#define ORVANE_INTERFACE __attribute__((visibility("default")))
#endif
