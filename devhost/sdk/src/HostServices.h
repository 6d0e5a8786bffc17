// The parts of the host core that a plugin session reaches through its wrappers.
#pragma once

namespace devhost {

class ConsoleOutput;
class ConsoleVariables;
class Console;
class GameThread;
class HttpFacility;

struct HostServices {
    ConsoleOutput& output;
    ConsoleVariables& variables;
    Console& console;
    GameThread& game;
    HttpFacility& http;
};

} // namespace devhost
