// The host console shared by the whole module; onLoad fills it.
#include "ModuleConsole.h"

std::shared_ptr<CVarManagerWrapper> moduleConsole;
