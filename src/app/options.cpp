#include "app/options.h"

#include "core/resource.h"
#include "core/state.h"

using namespace win;

const char kHelpText[] =
    "Quick Start Guide:\n\n    1) Press the BLUE button to Start a new recording\t\n    2) Press "
    "the RED button to Stop recording\n    3) Press the GREEN arrow (or F5) to Play\n\nRecordings "
    "can also be run from the command line.\nExample: \t \"kavorin  "
    "c:\\recording.rec\"\n\nShortcut "
    "Keys:\n\n{O}\t\tOpen\n{F5}\t\tPlay Recording\n{Enter}\t\tShow Options\n{Enter}+{R}\tSet "
    "Repeats\n{Escape}\t\tHide Tips\n\nAnywhere:\n{Ctrl+Alt+Shift+F6}\tRecord/Stop%s\n"
    "{Ctrl+Alt+Shift+F5}\tPlay/Stop%s\n{Pause}, {Ctrl+Break}\tStop\n{Escape}\t\tStop playing\n\n";
// After a hotkey another program holds.
const char kNotAvailable[] = " (taken)";
// The three blank lines on top leave the band the link is placed in.
const char kAboutText[] =
    "\n\n\nKavorin v1.22\nCopyright (C) 2026 the Kavorin developers\nBuild 1.22.0 for 32-bit "
    "Windows\nProvided as is, without warranty of any kind.";
const char kHomePage[] = "https://kavorin.example/";
const char kSupportPage[] = "https://kavorin.example/support/";

static_assert(sizeof kAboutText <= 256, "the About text must fit the shared text buffer");

namespace {

struct MenuEntry {
  UINT id;  // 0: separator
  const char* text;
};

const MenuEntry kMenu[] = {
    {kCmdSpeedNormal, "Play Speed: &Normal"},
    {kCmdSpeedFast, "Play Speed: &Fast"},
    {0, nullptr},
    {kCmdToggleContinuous, "&Continuous Playback"},
    {kCmdSetRepeatCount, "Set &Repeat Count..."},
    {0, nullptr},
    {kCmdToggleTips, "Hide &Tips     (Escape)"},
    {kCmdHelp, "&Help"},
    {kCmdWebsite, "Kavorin &Website"},
    {kCmdAbout, "&About Kavorin"},
};

bool IsChecked(UINT id) {
  switch (id) {
    case kCmdSpeedNormal: return gApp.fastSpeed == 0;
    case kCmdSpeedFast: return gApp.fastSpeed != 0;
    case kCmdToggleContinuous: return gApp.continuousPlayback != 0;
    case kCmdToggleTips: return gApp.statusFlags != kTipsOn;
    default: return false;
  }
}

void ShowAbout() {
  CopyText(gApp.pathBuffer, kAboutText, sizeof gApp.pathBuffer);
  // Its ticks put the link on the box once the box is there.
  SetTimer(gApp.mainWindow, kTimerAbout, 10, nullptr);
  MSGBOXPARAMSA box = {};
  box.cbSize = sizeof box;
  box.hwndOwner = gApp.mainWindow;
  box.hInstance = GetModuleHandleA(nullptr);
  box.lpszText = gApp.pathBuffer;
  box.lpszCaption = "About Kavorin";
  box.dwStyle = MB_USERICON | kOnTopBox;
  box.lpszIcon = MAKEINTRESOURCEA(IDI_KAVORIN);
  MessageBoxIndirectA(&box);
  KillTimer(gApp.mainWindow, kTimerAbout);
}

void ShowHelp() {
  char text[sizeof kHelpText + 2 * sizeof kNotAvailable];
  static const char* const kNote[2] = {"", kNotAvailable};
  BYTE missing = gApp.hotkeysMissing;
  wsprintfA(text, kHelpText, kNote[missing & 1], kNote[missing >> 1]);
  MessageBoxA(gApp.mainWindow, text, "Kavorin Help", kInfoBox);
}

void OpenWebsite(LPARAM lParam) {
  const char* address = lParam == 1 ? kHomePage : kSupportPage;
  if ((uintptr_t)ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_SHOWNORMAL) > 32)
    return;
  char text[64];
  wsprintfA(text, "Unable to connect to \"%s\"", kHostName);
  InfoBox(text);
}

}  // namespace

void OnOptionsCommand() {
  HMENU menu = CreatePopupMenu();
  for (const MenuEntry& e : kMenu)
    AppendMenuA(menu,
                !e.id             ? MF_SEPARATOR
                : IsChecked(e.id) ? MF_CHECKED
                                  : MF_STRING,
                e.id, e.text);
  RECT r = {};
  GetWindowRect(gApp.mainWindow, &r);
  TrackPopupMenu(menu, 0, r.right - 16, r.bottom - 10, 0, gApp.mainWindow, nullptr);
  DestroyMenu(menu);
}

void OnSettingsCommand(UINT id, LPARAM lParam) {
  switch (id) {
    case kCmdSpeedNormal: gApp.fastSpeed = 0; break;
    case kCmdSpeedFast: gApp.fastSpeed = 1; break;
    case kCmdToggleContinuous: gApp.continuousPlayback = !gApp.continuousPlayback; break;
    case kCmdToggleTips:
      // Also clears the busy bit: tips come back even while a run goes on.
      gApp.statusFlags = gApp.statusFlags == 0 ? kTipsOn : 0;
      SetIdleTitle();
      break;
    case kCmdHelp: ShowHelp(); break;
    case kCmdWebsite: OpenWebsite(lParam); break;
    case kCmdAbout: ShowAbout(); break;
    default: break;
  }
}
