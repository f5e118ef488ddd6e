// Controls we add to two message boxes while they are open: the repeat
// count's edit field and the About box's web link.
#pragma once

#include "platform/win32.h"

// The number in text: the first run of digits, negative when a minus sign
// stands right before it; wraps like 32-bit arithmetic; 0 without digits.
int32_t ParseDecimal(const char* text);
win::LRESULT CALLBACK RepeatEditProc(win::HWND window, win::UINT message, win::WPARAM wParam,
                                     win::LPARAM lParam);
win::LRESULT CALLBACK LinkLabelProc(win::HWND window, win::UINT message, win::WPARAM wParam,
                                    win::LPARAM lParam);
