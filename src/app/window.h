// The main window's procedure: every message and command the main window
// gets is dispatched here to the part of the program that handles it.
#pragma once

#include "platform/win32.h"

win::LRESULT CALLBACK MainWindowProc(win::HWND window, win::UINT message, win::WPARAM wParam,
                                     win::LPARAM lParam);
