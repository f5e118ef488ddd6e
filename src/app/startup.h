// Start-up: the command line, the main window and the message loop.
#pragma once

#include "platform/win32.h"

// The argument part of a command line: our own name and the blanks after it
// dropped (a quoted name runs to its closing quote).
char* ArgumentOf(char* commandLine);
// Removes every double quote, closing the gaps.
void RemoveQuotes(char* text);
// The main window's outer rectangle from the system metrics.
win::RECT MainWindowRect();
// Registers the class and creates the main window (its creation builds the
// cursor and the toolbar images).
bool CreateMainWindow(win::HINSTANCE module);
// Record and Play from whichever program is in front: Ctrl+Alt+Shift+F6 and
// Ctrl+Alt+Shift+F5, held down or not (no repeats).
void RegisterHotkeys();
// Runs the program: window, launch mode, message loop. Returns the exit code.
int StartUp(win::HINSTANCE module, char* argument);
