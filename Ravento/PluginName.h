// The plugin's name, "Ravento": the registration record's type name, and the window's menu name
// and first title. Defined with the plugin object (Ravento.cpp).
#pragma once

extern const char kPluginName[];
