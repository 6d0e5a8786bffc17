// devhost is Ravento's development host: the console variable in which the plugin keeps its
// replays folder, for the messages and panes that point at that folder.
#pragma once

inline constexpr const char* kDemosFolderVariable = "Ravento_DemosFolder";
