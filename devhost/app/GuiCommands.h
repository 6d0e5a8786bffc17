// devhost --gui once its script is done: runs the command lines typed into the window's console
// (a script command such as "play ID DATE", or else a console command such as
// "togglemenu Ravento") until the window is closed or a command quits, and keeps the replays
// pane's listing of the plugin's replays folder current.
#pragma once

#include "CommandRunner.h"
#include "GuiSession.h"

RunOutcome RunTypedCommands(devhost::Host& host, GuiSession& gui, const ScriptOutput& output);

// The regular files of the folder the plugin uses, sorted by name.
ReplaysFolder ListReplaysFolder(const devhost::Host& host);
