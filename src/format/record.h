// The recording format, shared by Kavorin and kvrec: the 20-byte record, its
// kinds, and the rules a recording's bytes must pass. Pure definitions over
// bytes and sizes: no platform, no library, so the freestanding program and
// the command-line tool read recordings by the very same rules.
#pragma once

#include <stdint.h>

// 20 bytes, five little-endian 32-bit fields: the layout of the platform's
// EVENTMSG, and byte for byte the record of a .rec file.
struct EventRecord {
  uint32_t message;  // one of the kinds below; 0 ends the recording
  uint32_t paramL;   // key: vk + 256 * scan; mouse: x
  uint32_t paramH;   // key: scan and the bits below; mouse: y
  uint32_t time;     // ms since start-up when it happened (timeGetTime)
  uint32_t hwnd;     // foreground window then; wheel: the delta; X button: which
};
static_assert(sizeof(EventRecord) == 20, "an event record is 20 bytes on disk");

constexpr uint32_t kRecordSize = 20;

// The kinds of event the recorder writes: window message numbers. Playback
// skips any other value, except 0, which ends it.
enum : uint32_t {
  kEndOfRecording = 0,
  kKeyDown = 0x100,  // for the three locks: the lock turned on
  kKeyUp = 0x101,    // the three locks: the lock turned off
  kMouseMove = 0x200,
  kLeftDown = 0x201,
  kLeftUp = 0x202,
  kRightDown = 0x204,
  kRightUp = 0x205,
  kMiddleDown = 0x207,  // recorded since the middle button was; older players skip it
  kMiddleUp = 0x208,
  // Recorded since input is taken as it happens; older players skip them.
  kWheel = 0x20A,   // vertical wheel at x, y; the signed delta in the last field
  kXDown = 0x20B,   // X button pressed at x, y; the last field says which: 1 back, 2 forward
  kXUp = 0x20C,     // X button released
  kHWheel = 0x20E,  // horizontal wheel, as kWheel (positive: to the right)
  // Recorded since every move is taken as it happens; older players skip them.
  kTypedChar = 0x102,     // a character typed as itself (VK_PACKET): the UTF-16 unit in paramL
  kPhysicalMark = 0x2E0,  // the second record: every position is in physical pixels
};

// A key record's paramH: the scan code in bits 0-7, and above it the bits
// that keys recorded as they happen carry. Older recordings (and hand-written
// ones) have neither: their key is played from its virtual-key code alone,
// with the scan code and the extended bit the system gives it.
constexpr uint32_t kScanMask = 0xFF;
// Sent with the extended-key flag (right Ctrl, numpad Enter).
constexpr uint32_t kKeyExtended = 0x100;
// The scan code and the extended bit are the key's own: play them.
constexpr uint32_t kKeyAsPressed = 0x200;
// A lock key recorded as pressed: the lock is on after this press (a press
// or a repeat; a release leaves it as it is). Playback ends the lock there.
constexpr uint32_t kLockOn = 0x400;

// A recording whose positions are physical pixels says so in its second
// record; any other recording holds the pixels of a program that is not
// DPI-aware, and plays in them.
inline bool HasPhysicalPixels(const EventRecord* events, uint32_t count) {
  return count > 1 && events[1].message == kPhysicalMark;
}

// The wait before a record at recorded speed: the difference of neighbouring
// times, which are absolute. A time below its predecessor's (a difference of
// 2^31 ms or more: only a damaged or hand-made file has one) plays at once
// instead of arming a timer of weeks; across the wrap of the tick counter the
// difference stays small and is kept.
constexpr uint32_t PlayedGap(uint32_t before, uint32_t time) {
  return time - before >= 0x80000000u ? 0 : time - before;
}

// Zeroed bytes a loaded recording gets behind it, so a terminator follows it.
constexpr uint32_t kLoadSlack = 4096;

// A file is read whole into one block with the slack behind it: a file whose
// size and slack do not fit 32 bits (4 GiB or more, or just below) is refused.
constexpr bool RecordingFits(uint64_t fileSize) { return fileSize <= 0xFFFFFFFFu - kLoadSlack; }

// The three rules the bytes from the load offset on must pass, each with the
// fault it reports: at least two bytes, a zero first byte (so the first record
// is a key-down or a move), and a whole number of records. Nothing else is
// examined.
enum RecordingFault { kRecordingOk, kTooShort, kFirstByteNotZero, kNotWholeRecords };

inline RecordingFault CheckRecording(const void* data, uint32_t size) {
  if (size < 2) return kTooShort;
  if (((const unsigned char*)data)[0] != 0) return kFirstByteNotZero;
  if (size % kRecordSize != 0) return kNotWholeRecords;
  return kRecordingOk;
}

inline bool IsValidRecording(const void* data, uint32_t size) {
  return CheckRecording(data, size) == kRecordingOk;
}
