// The built kvrec run as a user runs it: exit codes, messages, and files
// written whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "kvrec/recording.h"
#include "samples.h"

namespace {

struct Result {
  int status;
  std::string out, err;
};

class KvrecCli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvrec-cli-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0); }

  // Runs kvrec with these arguments (shell words) in the test's folder, its
  // standard input the given text, or the file `from`; `before` is a shell
  // command started beside it.
  Result Run(const std::string& args, const std::string& input = "",
             const std::string& from = "stdin", const std::string& before = "") {
    if (from == "stdin") Write("stdin", input);
    std::string command = "cd '" + dir_ + "' && { " + before + " '" KVREC_PROGRAM "' " + args +
                          " <'" + from + "' >stdout 2>stderr; s=$?; wait; exit $s; }";
    int raw = system(command.c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read("stdout"), Read("stderr")};
    remove(Path("stdin").c_str());
    remove(Path("stdout").c_str());
    remove(Path("stderr").c_str());
    return r;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
  }
  void Write(const std::string& name, const std::vector<unsigned char>& bytes) {
    Write(name, std::string(bytes.begin(), bytes.end()));
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<unsigned char> Bytes(const std::string& name) const {
    std::string s = Read(name);
    return {s.begin(), s.end()};
  }
  bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }
  mode_t Mode(const std::string& name, bool follow = true) const {
    struct stat st {};
    EXPECT_EQ(follow ? stat(Path(name).c_str(), &st) : lstat(Path(name).c_str(), &st), 0) << name;
    return st.st_mode;
  }
  // Everything in the folder, so that a test sees no stray file was left.
  std::string Listing() const {
    std::string all;
    for (const std::string& f : FilesIn(dir_)) all += f.substr(dir_.size() + 1) + " ";
    return all;
  }
  // An error: the status, nothing on standard output, the message on standard error.
  void ExpectError(const Result& r, int status, const std::string& message) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }

  std::string dir_;
};

const char kText[] =
    "0    move 310 310\n"
    "120  left down 420 400\n"
    "80   left up 420 400\n"
    "200  down Shift\n"
    "30   down A\n"
    "40   up A\n"
    "20   up Shift\n";

}  // namespace

TEST_F(KvrecCli, HelpListsEveryCommandAndEachCommandTellsItsUse) {
  Result list = Run("help");
  EXPECT_EQ(list.status, 0);
  for (const char* c : {"info", "dump", "build", "extract", "compile", "retime", "cut"}) {
    EXPECT_NE(list.out.find(std::string("\n  ") + c + " "), std::string::npos) << c;
    Result one = Run(std::string(c) + " --help");
    EXPECT_EQ(one.status, 0) << c;
    EXPECT_EQ(one.out.rfind(std::string("usage: kvrec ") + c + " ", 0), 0u) << one.out;
    EXPECT_EQ(Run(std::string("help ") + c).out, one.out);
  }
  EXPECT_EQ(Run("--help").out, list.out);
  // No command at all is a usage error; the list goes to standard error.
  Result none = Run("");
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, list.out);
}

TEST_F(KvrecCli, UsageErrorsExitWithTwoAndWriteNothing) {
  Write("a.txt", kText);
  ExpectError(Run("frobnicate a.txt"), 2, "kvrec: unknown command frobnicate");
  ExpectError(Run("help frobnicate"), 2, "unknown command frobnicate");
  ExpectError(Run("build a.txt"), 2,
              "kvrec build: expected -o OUT\nusage: kvrec build TEXT -o OUT.rec");
  ExpectError(Run("build -o a.rec"), 2, "kvrec build: expected a file to work on");
  ExpectError(Run("build a.txt b.txt -o a.rec"), 2, "unexpected argument b.txt");
  ExpectError(Run("build a.txt -o a.rec -o b.rec"), 2, "option -o given twice");
  ExpectError(Run("build a.txt --speed 2 -o a.rec"), 2, "unknown option --speed");
  ExpectError(Run("build a.txt -o"), 2, "option -o needs a value");
  ExpectError(Run("compile a.rec -o p.exe"), 2, "expected --with");
  ASSERT_EQ(Run("build a.txt -o a.rec").status, 0);
  // A speed is a plain decimal number: no sign, exponent, hex or words.
  for (const char* speed :
       {"0", "-2", "fast", "2x", "nan", "inf", "0x10", "1e3", "+2", "1.2.3", ".", "2000000000"})
    ExpectError(Run(std::string("retime a.rec --speed ") + speed + " -o b.rec"), 2,
                "expected a decimal number above 0, such as 2 or 0.5");
  ExpectError(Run("cut a.rec --from 0 -o b.rec"), 2,
              "--from 0: expected an event number from 1, or a time");
  ExpectError(Run("cut a.rec --to 1.5 -o b.rec"), 2, "--to 1.5: expected");
  EXPECT_EQ(Listing(), "a.rec a.txt ");
}

TEST_F(KvrecCli, ATextFaultNamesFileLineAndColumnAndLeavesTheOutputAlone) {
  Write("old.rec", std::string("untouched"));
  Write("bad.txt", std::string(kText) + "10 down Shfit\n");
  ExpectError(Run("build bad.txt -o old.rec"), 1,
              "bad.txt:8:9: expected a key name (A, F5, Shift, Enter, Left, ...) or a key code "
              "0x00 to 0xff, found \"Shfit\"\n");
  EXPECT_EQ(Read("old.rec"), "untouched");
  ExpectError(Run("build - -o new.rec", "0 left down 1 1\n"), 1,
              "<stdin>:1:3: expected a first event that starts a recording");
  EXPECT_EQ(Listing(), "bad.txt old.rec ");
}

TEST_F(KvrecCli, WhatKavorinRefusesEveryCommandRefuses) {
  Write("odd.rec", std::vector<unsigned char>(21));
  Write("keyup.rec", Rec({{kKeyUp, 'A', 0, 0, 0}}));
  Write("Kavorin.exe", MakeProgram());
  Write("old.rec", std::string("untouched"));
  for (const char* command :
       {"info odd.rec", "dump odd.rec", "dump odd.rec -o old.rec", "extract odd.rec -o old.rec",
        "compile odd.rec --with Kavorin.exe -o old.rec", "retime odd.rec --speed 2 -o old.rec",
        "cut odd.rec --from 1 -o old.rec"})
    ExpectError(
        Run(command), 1,
        "odd.rec: Not a valid recording: its 21 bytes are not a whole number of 20-byte records\n");
  ExpectError(Run("dump keyup.rec"), 1,
              "keyup.rec: Not a valid recording: the file starts with a key up (A)");
  ExpectError(Run("dump missing.rec"), 1, "missing.rec: cannot be read: No such file or directory");
  ExpectError(Run("extract Kavorin.exe -o old.rec"), 1,
              "Kavorin.exe: a Kavorin program with no recording behind it");
  ExpectError(Run("dump a.txt -o old.rec"), 1, "a.txt: cannot be read");
  EXPECT_EQ(Read("old.rec"), "untouched");
  EXPECT_EQ(Listing().size(), std::string("odd.rec keyup.rec Kavorin.exe old.rec ").size());
}

TEST_F(KvrecCli, BuildDumpCompileExtractRetimeAndCut) {
  Write("a.txt", kText);
  ASSERT_EQ(Run("build a.txt -o a.rec").status, 0);
  std::vector<unsigned char> rec = Bytes("a.rec");
  ASSERT_EQ(rec.size(), 7u * 20);

  Result info = Run("info a.rec");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out,
            "file: a.rec\nkind: recording (.rec)\nevents: 7 (2 key down, 2 key up, 1 move, 1 left "
            "down, 1 left up)\n"
            "duration: 0.490 s\nmouse area: x 310 to 420, y 310 to 400 (111 x 91 pixels)\n"
            "positions: pixels of a program that is not DPI-aware\n");

  // The dump, to standard output or to a file, builds back to the same bytes.
  Result dump = Run("dump a.rec");
  EXPECT_EQ(dump.status, 0);
  EXPECT_NE(dump.out.find("\n120   left down 420 400\n"), std::string::npos) << dump.out;
  ASSERT_EQ(Run("dump a.rec -o b.txt").status, 0);
  EXPECT_EQ(Read("b.txt"), dump.out);
  ASSERT_EQ(Run("build b.txt -o b.rec").status, 0);
  EXPECT_EQ(Bytes("b.rec"), rec);

  // A player: Kavorin.exe and the records behind it, executable.
  std::vector<unsigned char> kavorin = MakeProgram(3072, 0x8664);
  Write("Kavorin.exe", kavorin);
  ASSERT_EQ(Run("compile a.rec --with Kavorin.exe -o demo.exe").status, 0);
  EXPECT_EQ(Bytes("demo.exe"), Joined(kavorin, rec));
  struct stat st {};
  ASSERT_EQ(stat(Path("demo.exe").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  Result playerInfo = Run("info demo.exe");
  EXPECT_EQ(
      playerInfo.out.substr(0, playerInfo.out.find("events:")),
      "file: demo.exe\nkind: compiled player\narchitecture: x86-64\nstamped size: 3072 bytes\n"
      "execution level: none requested (no manifest)\nrecording: 140 bytes from byte 3072\n");
  EXPECT_EQ(Run("info Kavorin.exe").out,
            "file: Kavorin.exe\nkind: Kavorin program, no recording appended\narchitecture: "
            "x86-64\nstamped size: 3072 bytes\nexecution level: none requested (no manifest)\n");
  ASSERT_EQ(Run("extract demo.exe -o back.rec").status, 0);
  EXPECT_EQ(Bytes("back.rec"), rec);
  EXPECT_EQ(Run("dump demo.exe").out, dump.out.substr(0, 16) + "demo.exe" + dump.out.substr(21));
  ExpectError(Run("compile a.rec --with demo.exe -o again.exe"), 1,
              "demo.exe: a compiled player (3212 bytes, stamped size 3072)");
  ExpectError(Run("extract a.rec -o x.rec"), 1,
              "a.rec: a .rec file already; expected a compiled player");

  // Edits keep the form: a player stays a player.
  ASSERT_EQ(Run("retime demo.exe --speed 2 -o fast.exe").status, 0);
  Recording fast;
  ASSERT_EQ(Verdict(Bytes("fast.exe"), &fast), "");
  EXPECT_EQ(Vec(fast.image), kavorin);
  EXPECT_EQ(Run("info fast.exe").out.find("duration: 0.245 s\n") != std::string::npos, true);
  ASSERT_EQ(Run("cut a.rec --from 4 --to 6 -o keys.rec").status, 0);
  Result keys = Run("dump keys.rec");
  EXPECT_NE(keys.out.find("start 400\n0     down Shift\n30    down A\n40    up A\n"),
            std::string::npos)
      << keys.out;
  ASSERT_EQ(Run("cut a.rec --from 0.4s --to 430ms -o keys2.rec").status, 0);
  EXPECT_EQ(Read("keys2.rec"), Read("keys.rec").substr(0, 40));
  ExpectError(Run("cut a.rec --from 2 -o x.rec"), 1,
              "a.rec: the span would start with event 2, a left down");
  EXPECT_FALSE(Exists("x.rec"));
}

TEST_F(KvrecCli, AnOutputIsReplacedWholeOrNotAtAll) {
  Write("a.txt", kText);
  Write("a.rec", std::string("old"));
  ASSERT_EQ(Run("build a.txt -o a.rec").status, 0);
  EXPECT_EQ(Bytes("a.rec").size(), 140u);
  // In place: the input is read whole before its successor goes there.
  ASSERT_EQ(Run("retime a.rec --speed 0.5 -o a.rec").status, 0);
  EXPECT_NE(Run("info a.rec").out.find("duration: 0.980 s"), std::string::npos);
  ExpectError(Run("build a.txt -o no/such/folder/a.rec"), 1,
              "no/such/folder/a.rec: cannot be written");
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  ExpectError(Run("build a.txt -o folder"), 1, "folder: cannot be written: it is a folder");
  EXPECT_EQ(Listing().size(), std::string("a.txt a.rec folder ").size());
}

TEST_F(KvrecCli, AnOutputThatIsAnInputOfAnotherKindIsRefused) {
  Write("a.txt", kText);
  ASSERT_EQ(Run("build a.txt -o a.rec").status, 0);
  Write("Kavorin.exe", MakeProgram());
  ASSERT_EQ(Run("compile a.rec --with Kavorin.exe -o p.exe").status, 0);
  ASSERT_EQ(link(Path("a.txt").c_str(), Path("same.txt").c_str()), 0);
  ASSERT_EQ(symlink("a.rec", Path("link.rec").c_str()), 0);
  const std::string before = Listing(), text = Read("a.txt"), rec = Read("a.rec"),
                    player = Read("p.exe"), kavorin = Read("Kavorin.exe");
  const char* expected = "; expected another file for -o\n";
  ExpectError(Run("build a.txt -o a.txt"), 1,
              std::string("a.txt: the output is the input itself: build would replace the text "
                          "with a recording") +
                  expected);
  // The same file by another name: a hard link, a symbolic link, the standard input.
  ExpectError(Run("build a.txt -o same.txt"), 1, "same.txt: the output is the input a.txt itself");
  ExpectError(Run("build - -o a.txt", "", "a.txt"), 1, "a.txt: the output is the input - itself");
  ExpectError(Run("dump a.rec -o link.rec"), 1,
              "link.rec: the output is the input a.rec itself: dump would replace the recording "
              "with its text");
  ExpectError(Run("dump a.rec -o a.rec"), 1, "dump would replace the recording with its text");
  ExpectError(Run("extract p.exe -o p.exe"), 1,
              "extract would replace the player with its recording");
  ExpectError(Run("compile a.rec --with Kavorin.exe -o Kavorin.exe"), 1,
              "Kavorin.exe: the output is the input itself: compile would replace it with a "
              "player");
  ExpectError(Run("compile a.rec --with Kavorin.exe -o a.rec"), 1,
              "a.rec: the output is the input itself: compile would replace it with a player");
  EXPECT_EQ(Read("a.txt"), text);
  EXPECT_EQ(Read("a.rec"), rec);
  EXPECT_EQ(Read("p.exe"), player);
  EXPECT_EQ(Read("Kavorin.exe"), kavorin);
  EXPECT_EQ(Listing(), before);
  // Edits keep the kind: in place they are what the user asked for.
  ASSERT_EQ(Run("retime p.exe --speed 2 -o p.exe").status, 0);
  ASSERT_EQ(Run("cut a.rec --to 3 -o link.rec").status, 0);
  EXPECT_EQ(Bytes("a.rec").size(), 60u);
  EXPECT_TRUE(S_ISLNK(Mode("link.rec", false)));
}

TEST_F(KvrecCli, OnlyRegularFilesAreReplacedAndTheyKeepTheirPermissions) {
  Write("a.txt", kText);
  ASSERT_EQ(Run("build a.txt -o a.rec").status, 0);
  const std::string rec = Read("a.rec"), text = Run("dump a.rec").out;
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(Mode("a.rec") & 0777, 0666 & ~mask);

  // "-" is the standard output, for every command.
  Result out = Run("build a.txt -o -");
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.out, rec);
  EXPECT_EQ(Run("dump a.rec --output=-").out, text);
  EXPECT_FALSE(Exists("-"));

  // A symbolic link's target is replaced, and the link stays a link: beside
  // it, in another folder, and a link to a file not there yet.
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
  Write("sub/real.txt", std::string("old"));
  ASSERT_EQ(symlink("sub/real.txt", Path("link.txt").c_str()), 0);
  ASSERT_EQ(symlink("../a2.txt", Path("sub/up.txt").c_str()), 0);
  ASSERT_EQ(symlink("sub/new.txt", Path("dangling.txt").c_str()), 0);
  ASSERT_EQ(Run("dump a.rec -o link.txt").status, 0);
  ASSERT_EQ(Run("dump a.rec -o sub/up.txt").status, 0);
  ASSERT_EQ(Run("dump a.rec -o dangling.txt").status, 0);
  EXPECT_TRUE(S_ISLNK(Mode("link.txt", false)));
  EXPECT_TRUE(S_ISLNK(Mode("sub/up.txt", false)));
  EXPECT_TRUE(S_ISLNK(Mode("dangling.txt", false)));
  EXPECT_EQ(Read("sub/real.txt"), text);
  EXPECT_EQ(Read("a2.txt"), text);
  EXPECT_EQ(Read("sub/new.txt"), text);

  // A replaced file keeps its permission bits; a player is executable where readable.
  ASSERT_EQ(chmod(Path("a.rec").c_str(), 0640), 0);
  ASSERT_EQ(Run("retime a.rec --speed 2 -o a.rec").status, 0);
  EXPECT_EQ(Mode("a.rec") & 0777, 0640u);
  Write("Kavorin.exe", MakeProgram());
  Write("p.exe", std::string("old"));
  ASSERT_EQ(chmod(Path("p.exe").c_str(), 0640), 0);
  ASSERT_EQ(Run("compile a.rec --with Kavorin.exe -o p.exe").status, 0);
  EXPECT_EQ(Mode("p.exe") & 0777, 0750u);

  // A read-only file is refused, as Kavorin refuses it, whoever runs kvrec.
  ASSERT_EQ(chmod(Path("a.rec").c_str(), 0444), 0);
  const std::string kept = Read("a.rec");
  ExpectError(Run("retime a.rec --speed 2 -o a.rec"), 1,
              "a.rec: cannot be written: it is read-only; nothing was changed");
  EXPECT_EQ(Read("a.rec"), kept);
  EXPECT_EQ(Mode("a.rec") & 0777, 0444u);

  // A pipe is written in place, as to a reader at its other end.
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0);
  ASSERT_EQ(Run("dump a.rec -o pipe", "", "stdin", "cat pipe > got &").status, 0);
  EXPECT_TRUE(S_ISFIFO(Mode("pipe")));
  EXPECT_EQ(Read("got").substr(0, 20), text.substr(0, 20));
  // So is a character device, where we may make one: a null one takes the
  // bytes, a full one says why it cannot; both stay devices.
  if (mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
      mknod(Path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
    EXPECT_EQ(Run("dump a.rec -o null").status, 0);
    ExpectError(Run("dump a.rec -o full"), 1, "full: cannot be written: No space left on device");
    EXPECT_TRUE(S_ISCHR(Mode("null")));
    EXPECT_TRUE(S_ISCHR(Mode("full")));
  }
  // Nothing of ours is left anywhere.
  EXPECT_EQ(Listing().find("kvrec-tmp"), std::string::npos) << Listing();
  EXPECT_EQ(FilesIn(Path("sub")).size(), 3u);
}

TEST_F(KvrecCli, NamesAreShownWithTheirControlCharactersEscaped) {
  Write("a.txt", kText);
  ASSERT_EQ(Run("build a.txt -o a.rec").status, 0);
  const std::string rec = Read("a.rec");
  for (const char* name : {"a\n0 down A\n.rec", "b\r0 down A\r.rec", "c\td\x01.rec"}) {
    SCOPED_TRACE(name);
    Write(name, rec);
    std::string quoted = std::string("'") + name + "'";
    Result dump = Run("dump " + quoted);
    ASSERT_EQ(dump.status, 0);
    EXPECT_EQ(std::count(dump.out.begin(), dump.out.end(), '\n'), 11) << dump.out;
    Write("t.txt", dump.out);
    ASSERT_EQ(Run("build t.txt -o back.rec").status, 0);
    EXPECT_EQ(Read("back.rec"), rec);
    Result info = Run("info " + quoted);
    EXPECT_EQ(info.out.find("file: " + Str(Shown(name)) + "\nkind:"), 0u) << info.out;
    Write(std::string(name) + "x", std::string(3, '\0'));
    Result bad = Run("info " + quoted.substr(0, quoted.size() - 1) + "x'");
    EXPECT_EQ(bad.err, Str(Shown(name)) +
                           "x: Not a valid recording: its 3 bytes are not a whole number of "
                           "20-byte records\n");
  }
}

TEST_F(KvrecCli, ProgramsAndTextsAreNamedForWhatTheyAre) {
  std::vector<unsigned char> other(4096, 0);
  other[0] = 'M';
  other[1] = 'Z';
  Write("other.exe", other);
  ExpectError(Run("info other.exe"), 1,
              "other.exe: not a Kavorin program or player: Not a valid recording (a program "
              "without Kavorin's size stamp)");
  Write("Kavorin.exe", MakeProgram());
  for (const char* command :
       {"dump Kavorin.exe", "extract Kavorin.exe -o x.rec", "cut Kavorin.exe --to 1 -o x.exe"})
    ExpectError(Run(command), 1,
                "Kavorin.exe: a Kavorin program with no recording behind it: Not a valid "
                "recording (its 2048 bytes are its stamped size)");
  std::string manifest = "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>";
  Write("Kavorin.exe", MakeProgram(2048, 0x014C, &manifest));
  EXPECT_NE(Run("info Kavorin.exe").out.find("\nexecution level: asInvoker\n"), std::string::npos);

  Write("u16.txt", std::string("\xFF\xFE"
                               "0\0 \0m\0o\0v\0e\0",
                               14));
  ExpectError(Run("build u16.txt -o x.rec"), 1, "u16.txt: is UTF-16; save it as UTF-8 or ANSI\n");
  Write("long.txt", std::string("0 move 1 1\n4294967295 move 2 2\n"));
  ExpectError(Run("build long.txt -o x.rec"), 1,
              "long.txt:2:1: expected the wait before the event in ms, a whole number from "
              "-2147483648 to 2147483647");
  EXPECT_FALSE(Exists("x.rec"));
  EXPECT_FALSE(Exists("x.exe"));
}

TEST_F(KvrecCli, TheNewKindsAsText) {
  Write("w.txt", std::string("0 move 400 300\n10 wheel -120 400 300\n10 hwheel 120 410 300\n"
                             "10 x1 down 400 290\n10 x1 up 400 290\n10 down RCtrl ext exact\n"
                             "10 up RCtrl ext exact\n"));
  ASSERT_EQ(Run("build w.txt -o w.rec").status, 0);
  Result info = Run("info w.rec");
  EXPECT_NE(info.out.find("events: 7 (1 key down, 1 key up, 1 move, 1 wheel, 1 horizontal wheel, "
                          "1 x button down, 1 x button up)\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("mouse area: x 400 to 410, y 290 to 300 (11 x 11 pixels)\n"),
            std::string::npos)
      << info.out;
  Result dump = Run("dump w.rec");
  EXPECT_NE(dump.out.find("\n10    hwheel 120 410 300\n10    x1 down 400 290\n"), std::string::npos)
      << dump.out;
  EXPECT_NE(dump.out.find("\n10    up RCtrl ext exact\n"), std::string::npos) << dump.out;
  ExpectError(Run("cut w.rec --from 2 -o x.rec"), 1,
              "w.rec: the span would start with event 2, a wheel, and Kavorin refuses");
}
