// The toolbar: six image buttons drawn on the main window, the hand cursor,
// tips and keys.
#pragma once

#include "platform/win32.h"

// A monochrome mask of bitmap: 1 where it has keyColour (0: the colour of its
// top-left pixel), 0 elsewhere; those pixels of bitmap itself turn black.
// The caller owns the mask.
win::HBITMAP MakeTransparencyMask(win::HBITMAP bitmap, win::COLORREF keyColour);
// The button (0-5) under a mouse message's position.
int ButtonAt(win::LPARAM lParam);
// The hand cursor, the button strip and its mask, made as the window is created.
void LoadToolbarImages();
// Draws the six buttons; Record shows the red ball while recording.
void PaintToolbar(win::HWND window);
// The hand cursor, and with tips on the button's name in the title.
void ShowTip(win::LPARAM lParam);
// The command a key on the toolbar stands for; 0 for none.
win::UINT KeyCommand(win::WPARAM key);
// Frees what LoadToolbarImages made.
void FreeToolbarImages();
