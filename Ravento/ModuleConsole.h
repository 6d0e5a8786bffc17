// The host console shared by the whole module: every log line goes through it.
#pragma once

#include <memory>

#include "orvane/CVarManagerWrapper.h"

extern std::shared_ptr<CVarManagerWrapper> moduleConsole;
