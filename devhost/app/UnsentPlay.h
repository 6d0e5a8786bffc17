// Why a "play" sent no upload, as far as devhost can tell from outside the plugin: the plugin
// itself says nothing when it turns a replay down.
#pragma once

#include <string>

#include "orvane/host/Host.h"

// "play ID DATE: no request was sent (REASON)", with the first reason that applies: the
// identifier carries "_fixed", the plugin has no replays folder, ID.replay is not in it, or
// else the date.
std::string ExplainUnsentPlay(const devhost::Host& host, const std::string& id, const std::string& date);
