// Open, Save and Compile: the file dialogs and what they lead to.
#pragma once

#include "platform/win32.h"

extern const char kRecordingFilter[];
extern const char kProgramFilter[];

void OnOpenCommand();
void OnSaveCommand();
void OnCompileCommand();

// The open (mode 1) or save dialog over buffer (256 bytes: the proposed name
// on entry, the chosen full path after a 1 result, empty after 0).
int ChooseFile(win::HWND owner, char* buffer, const char* filter, int mode);
// The shared start of Save and Compile: leaves the target's full path in
// pathBuffer and answers whether to go on.
bool ChooseTarget(bool compile);
// "Compile Successful: ..." for a player of size bytes named name.
void CompileMessage(char* out, int size, const char* name, int32_t fileSize);
