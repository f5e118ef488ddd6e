// The Options menu, the settings it changes and the information boxes.
#pragma once

#include "platform/win32.h"

extern const char kHelpText[];
extern const char kAboutText[];
extern const char kHomePage[];
extern const char kSupportPage[];
extern const char kHostName[];  // shown by the About box link
