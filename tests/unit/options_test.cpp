// The Options menu, the settings, the information boxes and the controls we
// put into two of them.
#include "app/options.h"
#include "boxes/injected.h"
#include "core/resource.h"
#include "desk.h"

using namespace win;

namespace {

class Options : public WindowDesk {
 protected:
  // The menu as it would show now: (text, checked) per entry, "-" for separators.
  std::vector<std::pair<std::string, bool>> Menu() {
    sim::PushMenuChoice(0);
    Command(kCmdOptions);
    std::vector<std::pair<std::string, bool>> out;
    for (const sim::MenuItem& item : sim::MenuTracks().back().items)
      out.push_back({item.text ? *item.text : "-", (item.flags & MF_CHECKED) != 0});
    return out;
  }
};

TEST_F(Options, TheMenuHasTenEntriesInOrder) {
  sim::PushMenuChoice(0);
  Command(kCmdOptions);
  ASSERT_EQ(sim::MenuTracks().size(), 1u);
  const sim::MenuTrack& t = sim::MenuTracks()[0];
  std::vector<std::tuple<UINT, UINT_PTR, std::string>> want = {
      {MF_CHECKED, 0x800a, "Play Speed: &Normal"},
      {MF_STRING, 0x800b, "Play Speed: &Fast"},
      {MF_SEPARATOR, 0, "-"},
      {MF_STRING, 0x800c, "&Continuous Playback"},
      {MF_STRING, 0x800d, "Set &Repeat Count..."},
      {MF_SEPARATOR, 0, "-"},
      {MF_STRING, 0x8011, "Hide &Tips     (Escape)"},
      {MF_STRING, 0x800e, "&Help"},
      {MF_STRING, 0x800f, "Kavorin &Website"},
      {MF_STRING, 0x8010, "&About Kavorin"}};
  ASSERT_EQ(t.items.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(t.items[i].flags, std::get<0>(want[i])) << i;
    EXPECT_EQ(t.items[i].id, std::get<1>(want[i])) << i;
    EXPECT_EQ(t.items[i].text ? *t.items[i].text : "-", std::get<2>(want[i])) << i;
  }
  RECT r;
  GetWindowRect(main_, &r);
  EXPECT_EQ(t.flags, 0u);
  EXPECT_EQ(t.x, r.right - 16);
  EXPECT_EQ(t.y, r.bottom - 10);
  EXPECT_EQ(t.owner, main_);
  EXPECT_EQ(sim::LiveMenus(), 0);
}

TEST_F(Options, ChecksFollowTheSettings) {
  Command(kCmdSpeedFast);
  Command(kCmdSpeedFast);
  EXPECT_EQ(gApp.fastSpeed, 1);
  auto m = Menu();
  EXPECT_FALSE(m[0].second);
  EXPECT_TRUE(m[1].second);
  Command(kCmdSpeedNormal);
  EXPECT_EQ(gApp.fastSpeed, 0);
  Command(kCmdToggleContinuous);
  m = Menu();
  EXPECT_TRUE(m[0].second);
  EXPECT_TRUE(m[3].second);
  Command(kCmdToggleContinuous);
  EXPECT_FALSE(Menu()[3].second);
  for (BYTE flags : {0, 1, 2, 3}) {
    gApp.statusFlags = flags;
    EXPECT_EQ(Menu()[6].second, flags != 1) << (int)flags;
  }
}

TEST_F(Options, AChosenItemRunsItsCommand) {
  sim::PushMenuChoiceText("Play Speed: &Fast");
  Command(kCmdOptions);
  sim::Pump();
  EXPECT_EQ(gApp.fastSpeed, 1);
}

TEST_F(Options, EscapeTwiceTurnsTipsOffAndOnWithTheIdleTitle) {
  SendMessageA(main_, WM_KEYDOWN, VK_ESCAPE, 0);
  sim::Pump();
  EXPECT_EQ(gApp.statusFlags, 0);
  EXPECT_EQ(Title(), "Kavorin");
  SetWindowTextA(main_, "x");
  SendMessageA(main_, WM_KEYDOWN, VK_ESCAPE, 0);
  sim::Pump();
  EXPECT_EQ(gApp.statusFlags, 1);
  EXPECT_EQ(Title(), "Kavorin");
  // While busy, hiding tips also clears the busy bit and shows the idle title.
  gApp.statusFlags = 3;
  CopyText(gApp.currentName, "demo.rec", sizeof gApp.currentName);
  Command(kCmdToggleTips);
  EXPECT_EQ(gApp.statusFlags, 0);
  EXPECT_EQ(Title(), "demo.rec");
}

TEST_F(Options, HelpShowsItsText) {
  Command(kCmdHelp);
  const sim::BoxInfo& box = sim::Boxes().back();
  EXPECT_EQ(box.caption, "Kavorin Help");
  EXPECT_EQ(box.style, kInfoBox);
  EXPECT_EQ(box.owner, main_);
  EXPECT_EQ(box.text->substr(0, 20), "Quick Start Guide:\n\n");
  EXPECT_NE(box.text->find("Example: \t \"kavorin  c:\\recording.rec\"\n"), std::string::npos);
  EXPECT_NE(box.text->find("{Enter}+{R}\tSet Repeats\n{Escape}\t\tHide Tips\n\n"),
            std::string::npos);
}

TEST_F(Options, WebsiteByLParamAndTheConnectionError) {
  Command(kCmdWebsite, 0);
  Command(kCmdWebsite, 1);
  ASSERT_EQ(sim::ShellCalls().size(), 2u);
  EXPECT_EQ(sim::ShellCalls()[0].file, std::string(kSupportPage));
  EXPECT_EQ(sim::ShellCalls()[1].file, std::string(kHomePage));
  EXPECT_EQ(sim::ShellCalls()[1].show, SW_SHOWNORMAL);
  EXPECT_FALSE(sim::ShellCalls()[1].verb.has_value());
  EXPECT_TRUE(sim::Boxes().empty());
  sim::SetShellResult(32);
  Command(kCmdWebsite, 0);
  EXPECT_EQ(sim::Boxes().back().text, "Unable to connect to \"kavorin.example\"");
  EXPECT_EQ(sim::Boxes().back().caption, "Kavorin");
  EXPECT_NE(std::string(kHomePage).find(kHostName), std::string::npos);
  EXPECT_NE(std::string(kSupportPage).find(kHostName), std::string::npos);
}

TEST_F(Options, AboutBoxWithTheLinkPlacedByVersion) {
  for (BYTE major : {5, 6}) {
    sim::SetVersion(major);
    sim::PushBox([&](sim::BoxInfo& box) {
      sim::Advance(30);
      HWND link = sim::FindChild(box.window, "STATIC");
      EXPECT_NE(link, nullptr);
      if (link) {
        const sim::WindowInfo* w = sim::Window(link);
        EXPECT_EQ(w->title, "kavorin.example");
        EXPECT_EQ(w->y, major == 5 ? 15 : 30);
        EXPECT_EQ(w->x, 75);
        EXPECT_EQ(w->width, 300 - 150);
        EXPECT_EQ(w->height, 20);
        EXPECT_EQ(w->style, 0x50000001u);
        EXPECT_EQ(w->exStyle, WS_EX_TOPMOST);
        EXPECT_EQ(w->id, 0x800fu);
        EXPECT_EQ(w->proc, LinkLabelProc);
        // Painted blue, transparent and centred; a click opens the home page.
        UpdateWindow(link);
        EXPECT_FALSE(sim::DrawTexts().empty());
        if (!sim::DrawTexts().empty()) {
          const sim::DrawTextCall& d = sim::DrawTexts().back();
          EXPECT_EQ(d.text, "kavorin.example");
          EXPECT_EQ(d.format, 0x8024u | DT_CENTER);
          EXPECT_EQ(d.textColour, RGB(0, 0, 255));
          EXPECT_EQ(d.backMode, TRANSPARENT);
        }
        SendMessageA(link, WM_MOUSEMOVE, 0, 0);
        EXPECT_EQ(sim::ShownCursor(), gApp.handCursor);
        SendMessageA(link, WM_LBUTTONDOWN, 0, 0);
        sim::Advance(20);
        EXPECT_TRUE(box.open);
      }
      return IDOK;
    });
    Command(kCmdAbout);
    const sim::BoxInfo& box = sim::Boxes().back();
    EXPECT_TRUE(box.indirect);
    EXPECT_EQ(box.owner, main_);
    EXPECT_EQ(box.caption, "About Kavorin");
    EXPECT_EQ(box.style, MB_USERICON | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
    EXPECT_EQ(box.iconId, (unsigned)IDI_KAVORIN);
    EXPECT_EQ(box.instance, sim::ModuleHandle());
    EXPECT_EQ(box.text->substr(0, 16), "\n\n\nKavorin v1.22");
    EXPECT_LE(box.text->size(), 255u);
    EXPECT_FALSE(sim::TimerExists(main_, kTimerAbout));
    EXPECT_EQ(sim::ShellCalls().back().file, std::string(kHomePage));
  }
}

class RepeatBox : public Options {
 protected:
  // Opens the repeat box; 'user' types into its edit and answers.
  void Open(std::function<int(HWND edit)> user) {
    sim::PushBox([user](sim::BoxInfo& box) {
      sim::Advance(30);
      HWND edit = sim::FindChild(box.window, "EDIT");
      EXPECT_NE(edit, nullptr);
      return user(edit);
    });
    Command(kCmdSetRepeatCount);
  }
};

TEST_F(RepeatBox, ShowsTheCountSelectedAndOkAppliesIt) {
  gApp.continuousPlayback = 1;
  Open([](HWND edit) {
    const sim::WindowInfo* w = sim::Window(edit);
    EXPECT_EQ(w->title, "1");
    EXPECT_EQ(w->selStart, 0);
    EXPECT_EQ(w->selEnd, 1);
    EXPECT_EQ(sim::Focus(), edit);
    EXPECT_EQ(w->style, 0x50812080u);
    EXPECT_EQ(w->y, 60);
    sim::Type(edit, "250");
    return IDOK;
  });
  const sim::BoxInfo& box = sim::Boxes().back();
  EXPECT_EQ(box.text, "Number of Playback Loops:\t\n\n\n\n\n");
  EXPECT_EQ(box.caption, "Playback Repeats");
  EXPECT_EQ(box.style, 0x40021u);
  EXPECT_EQ(gApp.repeatCount, 250);
  EXPECT_EQ(gApp.continuousPlayback, 0);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRepeat));
}

TEST_F(RepeatBox, CancelChangesNothing) {
  gApp.continuousPlayback = 1;
  Open([](HWND edit) {
    sim::Type(edit, "7");
    return IDCANCEL;
  });
  EXPECT_EQ(gApp.repeatCount, 1);
  EXPECT_EQ(gApp.continuousPlayback, 1);
}

TEST_F(RepeatBox, EmptyNegativeAndOverlongEntries) {
  Open([](HWND edit) {
    SetWindowTextA(edit, "");
    return IDOK;
  });
  EXPECT_EQ(gApp.repeatCount, 0);
  Open([](HWND edit) {
    SetWindowTextA(edit, "-12");
    return IDOK;
  });
  EXPECT_EQ(gApp.repeatCount, 0);
  Open([](HWND edit) {
    SetWindowTextA(edit, "1234567890123456789012345678905");  // 31 characters
    return IDOK;
  });
  EXPECT_EQ(std::string(gApp.repeatText), "123456789012345678901234567890");
  EXPECT_EQ(gApp.repeatCount, ParseDecimal("123456789012345678901234567890"));
  gApp.repeatCount = 4;
  sim::SetVersion(5);
  Open([](HWND edit) {
    EXPECT_EQ(sim::Window(edit)->title, "4");
    EXPECT_EQ(sim::Window(edit)->y, 45);
    return IDOK;
  });
  EXPECT_EQ(gApp.repeatCount, 4);
}

TEST_F(RepeatBox, ABoxThatNeverAppearsStopsTheSearch) {
  sim::PushBox([](sim::BoxInfo&) { return IDOK; });  // closes before any tick
  Command(kCmdSetRepeatCount);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRepeat));
  EXPECT_EQ(gApp.repeatCount, 1);  // the count formatted before the box
}

// Another Kavorin's boxes with the same captions, opened over ours, are never
// decorated from here: each of our boxes gets its one control.
TEST_F(Options, AnotherProgramsBoxesAreLeftAlone) {
  HWND other[2] = {};
  for (int i = 0; i < 2; ++i) {
    const char* caption = i == 0 ? "Playback Repeats" : "About Kavorin";
    sim::PushBox([&, i, caption](sim::BoxInfo& box) {
      other[i] = sim::OtherProgramBox(caption);  // on top of ours
      sim::Advance(30);
      EXPECT_NE(sim::FindChild(box.window, i == 0 ? "EDIT" : "STATIC"), nullptr) << caption;
      return IDOK;
    });
    Command(i == 0 ? kCmdSetRepeatCount : kCmdAbout);
    EXPECT_EQ(sim::Window(other[i])->title, caption);
    EXPECT_EQ(sim::FindChild(other[i], "EDIT"), nullptr);
    EXPECT_EQ(sim::FindChild(other[i], "STATIC"), nullptr);
  }
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRepeat));
  EXPECT_FALSE(sim::TimerExists(main_, kTimerAbout));
}

}  // namespace
