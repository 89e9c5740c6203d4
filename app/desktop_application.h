#pragma once

// Runs the desktop application: the real platform, one engine, the shell, the event loop.
// Returns the process's exit status. A second launch hands over to the running one and
// returns 0 at once.
int runDesktopApplication(int argc, char** argv);
