// How a key's pressed state is read, which keys are extended, and the
// release of everything held.
#pragma once

#include "platform/win32.h"

// The mouse buttons read the asynchronous state, the three locks their toggle, every
// other code the thread's key state.
bool IsKeyDown(int vk);
bool IsLockKey(int vk);  // Caps Lock, Num Lock, Scroll Lock
// Fills down[vk] with IsKeyDown(vk) for all 256 codes in one sweep.
void ReadKeysDown(win::BYTE down[256]);
bool IsExtendedKey(int vk);
// A synthetic key event for vk. A key recorded as pressed (kKeyAsPressed in
// scanAndBits, a record's paramH) carries its own scan code and extended bit;
// any other gets those the system gives vk.
void SendKey(int vk, bool up, win::DWORD scanAndBits = 0);
// Sends a key-up for everything that reads as held, empties the keyboard
// state (but for the locks that are on) and clears every key's
// pressed-since-last-query bit.
void ReleaseAllKeys();
