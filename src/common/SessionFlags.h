#pragma once
// The main window's flags for command-line runs and closing, shared by the
// window, the run driver and the transfer; one routine leaves unattended mode.

namespace zandrel {

// All false at creation.
struct SessionFlags {
    bool CommandLineRun = false;   // the current run came from the command line; cleared
                                   // only by LeaveUnattendedMode
    bool PauseBeforeExit = false;  // " -rp": pause 3 seconds before the end
    bool ClosingDown = false;      // the window is being closed: no "Saved" note
    bool ClosePermitted = false;   // lets the close pass a disabled Start button
};

// The one way a run stops being a command-line run: when the window is idle
// again or the user confirmed an abort.
inline void LeaveUnattendedMode(SessionFlags& flags) {
    flags.CommandLineRun = false;
}

}  // namespace zandrel
