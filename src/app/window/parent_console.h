#pragma once
// Where --help, --version and usage errors of the window tool are written.

// A program without a console of its own (a Windows GUI program started from a command
// prompt) writes standard output and error to its parent's console; elsewhere nothing changes.
void UseParentConsole();
