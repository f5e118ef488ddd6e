// The Options menu, the settings it changes and the information boxes.
#pragma once

#include "platform/win32.h"

extern const char kHelpText[];  // a wsprintfA format: a %s after each hotkey
extern const char kNotAvailable[];
extern const char kAboutText[];
extern const char kHomePage[];
extern const char kSupportPage[];

// The Options menu under the Options button.
void OnOptionsCommand();
// The menu's settings and information items.
void OnSettingsCommand(win::UINT id, win::LPARAM lParam);
