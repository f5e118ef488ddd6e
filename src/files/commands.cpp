#include "files/commands.h"

#include "core/state.h"
#include "files/recfile.h"

using namespace win;

const char kRecordingFilter[] = "Recording Files (*.rec)\0*.rec\0All Files (*.*)\0*.*\0";
const char kProgramFilter[] = "Program Files (*.exe)\0*.exe\0All Files (*.*)\0*.*\0";

namespace {

constexpr int kPathSize = sizeof(AppState::pathBuffer);
constexpr int kMessageSize = 320;  // room for a whole path and our words around it

void WarnAboutPath(const char* lead, const char* tail) {
  char text[kMessageSize];
  CopyText(text, lead, kMessageSize);
  AppendText(text, gApp.pathBuffer, kMessageSize);
  AppendText(text, tail, kMessageSize);
  MessageBoxA(gApp.mainWindow, text, kCaption, kWarningBox);
}

}  // namespace

int ChooseFile(HWND owner, char* buffer, const char* filter, int mode) {
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = IsWindow(owner) ? owner : GetForegroundWindow();
  ofn.lpstrFilter = filter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = 256;
  ofn.lpstrInitialDir = buffer;
  ofn.Flags = mode == 1 ? OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES
                        : OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_LONGNAMES;
  if (mode == 1 ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn)) return 1;
  buffer[0] = 0;
  return 0;
}

void OnOpenCommand() {
  gApp.pathBuffer[0] = 0;
  if (!ChooseFile(gApp.mainWindow, gApp.pathBuffer, kRecordingFilter, 1) || !gApp.pathBuffer[0])
    return;
  // Tips off: the title keeps the file name. A refused file changes nothing.
  if (LoadRecording(gApp.pathBuffer, 0)) gApp.statusFlags = 0;
}

bool ChooseTarget(bool compile) {
  if (!gApp.recordingBuffer || !gApp.eventCount) {
    InfoBox(kNothingRecorded);
    return false;
  }
  CopyText(gApp.pathBuffer, gApp.currentName, kPathSize);
  if (compile && EndsWithNoCase(gApp.pathBuffer, ".rec"))
    gApp.pathBuffer[lstrlenA(gApp.pathBuffer) - 4] = 0;
  if (!ChooseFile(gApp.mainWindow, gApp.pathBuffer, compile ? kProgramFilter : kRecordingFilter, 2))
    return false;
  const char* extension = compile ? ".exe" : ".rec";
  if (!EndsWithNoCase(gApp.pathBuffer, extension)) {
    if (lstrlenA(gApp.pathBuffer) + 4 >= kPathSize) {
      WarnAboutPath("This path leaves no room for the extension. Choose a shorter one:\n\n", "");
      return false;
    }
    AppendText(gApp.pathBuffer, extension, kPathSize);
  }
  return true;
}

void OnSaveCommand() {
  if (!ChooseTarget(false)) return;
  // The old file is replaced only once the new one is completely written.
  if (!ReplaceFileWith(gApp.pathBuffer, gApp.recordingBuffer, gApp.eventCount * kRecordSize)) {
    WarnAboutPath("The recording could not be saved to\n\n", "\n\nNothing there was changed.");
    return;
  }
  gApp.statusFlags = 0;
  StripDirectory(gApp.pathBuffer);
  TakeName(gApp.pathBuffer);
}

void CompileMessage(char* out, int size, const char* name, int32_t fileSize) {
  bool big = fileSize > 1048576;
  char number[16];
  wsprintfA(number, "%d", big ? fileSize / 1048576 : fileSize / 1024);
  CopyText(out, "Compile Successful: \"", size);
  AppendText(out, name, size);
  AppendText(out, "\"\n\nFile Size:  ", size);
  AppendText(out, number, size);
  AppendText(out, big ? " MB" : "k", size);
}

void OnCompileCommand() {
  if (!ChooseTarget(true)) return;
  char text[kMessageSize];
  for (char& c : text) c = 0;
  GetModuleFileNameA(GetModuleHandleA(nullptr), text, sizeof text);
  // The player is made beside the target: a compile that fails leaves
  // neither a half-made player nor a lost old one.
  char temp[kTempPathSize];
  HANDLE reserved = CreateTempBeside(temp, gApp.pathBuffer);
  DWORD count = gApp.eventCount * kRecordSize;
  DWORD appended = 0;
  if (reserved != INVALID_HANDLE_VALUE()) {
    // The copy goes over the empty file we have just made our own.
    CloseHandle(reserved);
    if (CopyFileA(text, temp, FALSE)) appended = WriteFileAt(temp, -1, gApp.recordingBuffer, count);
  }
  if (temp[0] && PutInPlace(temp, gApp.pathBuffer, appended == count)) {
    StripDirectory(gApp.pathBuffer);
    CompileMessage(text, kMessageSize, gApp.pathBuffer, (int32_t)(appended + StubImageSize()));
  } else {
    CopyText(text, "Compile Failed!\n\n", kMessageSize);
    AppendText(text, gApp.pathBuffer, kMessageSize);
  }
  InfoBox(text);
}
