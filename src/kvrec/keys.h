// Key names for the text of a recording, and the scan code the recorder
// writes for each virtual-key code (the platform's US keyboard map), which is
// what build fills in when the text gives none.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kvrec/basics.h"

// Adds the name the text uses for a virtual-key code ("A", "F5", "Left",
// ...), or "0x.." for a code without one.
void AddKeyName(Text& out, uint8_t vk);
Text KeyName(uint8_t vk);
// The code of a key name or of 0x00..0xFF, without regard to case; -1 when it
// is neither.
int KeyCode(const char* name, size_t length);
// MapVirtualKey(vk, to scan code) of the US keyboard; 0 for keys without one.
uint32_t DefaultScan(uint8_t vk);
