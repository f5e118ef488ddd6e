// The toolbar window: six image buttons, the hand cursor, tips and keys.
#pragma once

#include "platform/win32.h"

// A monochrome mask of bitmap: 1 where it has keyColour (0: the colour of its
// top-left pixel), 0 elsewhere; those pixels of bitmap itself turn black.
// The caller owns the mask.
win::HBITMAP MakeTransparencyMask(win::HBITMAP bitmap, win::COLORREF keyColour);
// The button (0-5) under a mouse message's position.
int ButtonAt(win::LPARAM lParam);
// Handles the toolbar's messages (create, paint, mouse, keys, close).
void ToolbarMessage(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);
// Frees the recording, the cursor and the images, and ends the message loop.
void OnToolbarDestroy();
