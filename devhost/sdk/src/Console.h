// The host console's commands: "togglemenu NAME", "writeconfig", and the record of every
// command run. Commands run on the game thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "orvane/host/Host.h"

namespace devhost {

class ConsoleOutput;
class ConsoleVariables;
class UiFrames;

class Console {
public:
    Console(ConsoleOutput& output, ConsoleVariables& variables, UiFrames& ui);

    // Returns false for a command the console does not know (reported on the host's output).
    bool Run(const std::string& command);
    // Whether a plugin's command runs where it was issued instead of on the game thread: a
    // "togglemenu" issued from the UI thread, that is from a window's own draw. A window whose
    // close button was clicked issues it in every frame it is drawn; queued, a second frame
    // could issue it again before the first ran, and the two toggles would close and reopen the
    // window. Run at once, the window is closed before the next frame is drawn (its
    // OnWindowClosed then runs from inside its DrawWindow call).
    bool RunsAtOnce(const std::string& command) const;
    void Record(ExecutedCommand command);
    std::vector<ExecutedCommand> Executed() const;

private:
    bool Dispatch(const std::string& command);
    void ToggleMenu(const std::string& menuName);

    ConsoleOutput& output;
    ConsoleVariables& variables;
    UiFrames& ui;
    mutable std::mutex mutex;
    std::vector<ExecutedCommand> executed;
};

} // namespace devhost
