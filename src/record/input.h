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
// A key held now, in either view of it: Wine's GetAsyncKeyState may answer
// from a cache up to 50 ms old for keys that go to another program, and
// GetKeyState asks afresh. (Windows keeps a background thread's GetKeyState
// as it was: there GetAsyncKeyState tells.)
bool HeldNow(int vk);
// A character typed as itself, pressed and released (KEYEVENTF_UNICODE).
void SendChar(win::WORD unit);
// Makes this thread read and send positions in physical pixels, on every
// monitor (per-monitor DPI-aware), and returns the awareness it had; nullptr
// where the system cannot (before Windows 10 1607): positions then stay in
// the pixels of a program that is not DPI-aware. Windows gives a thread the
// awareness of its window while that window's procedure runs, timer ticks
// included: so it is asked for where positions are read or sent.
win::HANDLE InPhysicalPixels();
void RestorePixels(win::HANDLE previous);  // nothing for nullptr
// Sends a key-up for everything that reads as held, empties the keyboard
// state (but for the locks that are on) and clears every key's
// pressed-since-last-query bit.
void ReleaseAllKeys();
