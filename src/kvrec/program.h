// What kvrec reads in a program file: Kavorin's size stamp, the PE header's
// machine, and the execution level its manifest asks Windows for. Every read
// is bounded by the bytes given, whatever they hold.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kvrec/basics.h"

// Offset of Kavorin's size slot: the 4 bytes behind the first size marker
// (format/player.h); 0 when there is none with a whole slot behind it.
uint32_t FindStampSlot(const unsigned char* image, size_t size);

// The PE machine of a program image; 0 when the image has no PE header.
uint16_t MachineOf(const unsigned char* image, size_t size);
// "i386", "x86-64", or "machine 0x.." for another.
Text MachineName(uint16_t machine);

// What a program's manifest (resource type 24) asks for.
enum ExecutionLevel { kNoManifest, kNoLevelRequested, kLevelRequested };
// The level attribute of requestedExecutionLevel ("asInvoker", ...) in level.
ExecutionLevel RequestedLevel(const unsigned char* image, size_t size, Text& level);
