// Controls we add to two message boxes while they are open: the repeat
// count's edit field and the About box's web link.
#pragma once

#include "platform/win32.h"

// Set Repeat Count...: asks for the number of runs in a message box.
void OnSetRepeatCount();
// On a tick of the About or the repeat timer: adds the control to its box
// once the box is open.
void InjectBoxControl(win::UINT_PTR timerId);
// The number in text: the first run of digits, negative when a minus sign
// stands right before it; wraps like 32-bit arithmetic; 0 without digits.
int32_t ParseDecimal(const char* text);
win::LRESULT CALLBACK RepeatEditProc(win::HWND window, win::UINT message, win::WPARAM wParam,
                                     win::LPARAM lParam);
win::LRESULT CALLBACK LinkLabelProc(win::HWND window, win::UINT message, win::WPARAM wParam,
                                    win::LPARAM lParam);
