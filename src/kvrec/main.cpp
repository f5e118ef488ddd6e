// kvrec: Kavorin's recordings as text, to read, edit and build, and players
// made from them or taken apart, from a command line on Windows or Linux.
#include "kvrec/files.h"
#include "kvrec/program.h"
#include "kvrec/recording.h"
#include "kvrec/system.h"
#include "kvrec/text.h"

namespace {

struct Command {
  const char* name;
  const char* usage;        // the arguments
  const char* summary;      // one line for the list
  const char* details;      // for COMMAND --help
  int positional;           // how many file arguments (-1: any)
  const char* options[4];   // the options it takes, each with a value
  const char* required[3];  // those it cannot do without
  const char* kindChange;   // what writing over its input would do, or nullptr
};

const Command kCommands[] = {
    {"info",
     "FILE",
     "what a recording or a compiled player holds",
     "Prints whether FILE is a .rec file or a compiled player (and then its\n"
     "architecture, stamped size and requested execution level), the number of\n"
     "events of each kind, how long a run takes at recorded speed, and the area\n"
     "the mouse covered.\n",
     1,
     {},
     {},
     nullptr},
    {"dump",
     "FILE [-o OUT]",
     "the recording as text",
     "Writes the recording of FILE (a .rec file or a compiled player) as text:\n"
     "one event per line, the wait before it in milliseconds, then the event.\n"
     "Without -o the text goes to the standard output. kvrec build turns the\n"
     "text back into the very same bytes. The format: docs/kvrec.md.\n",
     1,
     {"-o"},
     {},
     "dump would replace the recording with its text"},
    {"build",
     "TEXT -o OUT.rec",
     "text to a recording",
     "Makes a .rec file from TEXT (- reads the standard input). A hand-written\n"
     "text needs only waits and events, for example:\n"
     "    0    move 310 310\n"
     "    120  left down 310 310\n"
     "    80   left up 310 310\n"
     "    200  down Shift\n"
     "    30   down A\n"
     "    40   up A\n"
     "    20   up Shift\n"
     "An error names TEXT:line:column and what was expected there.\n",
     1,
     {"-o"},
     {"-o"},
     "build would replace the text with a recording"},
    {"extract",
     "PLAYER.exe -o OUT.rec",
     "the recording a compiled player carries",
     "Writes the recording appended to a compiled player, found behind the size\n"
     "stamped inside the player's own program, as a .rec file.\n",
     1,
     {"-o"},
     {"-o"},
     "extract would replace the player with its recording"},
    {"compile",
     "REC --with Kavorin.exe -o OUT.exe",
     "a player, as Kavorin's Compile button makes it",
     "Makes a compiled player: Kavorin.exe (as built, either architecture)\n"
     "followed by the recording of REC (a .rec file, or a compiled player whose\n"
     "recording is taken).\n",
     1,
     {"--with", "-o"},
     {"--with", "-o"},
     "compile would replace it with a player"},
    {"retime",
     "FILE --speed F -o OUT",
     "waits divided by F",
     "Divides every wait by F (2 plays twice as fast, 0.5 half as fast), rounded\n"
     "to the millisecond so that the whole run scales too. F is a decimal number\n"
     "above 0. A player gives a player, a .rec a .rec; OUT may be FILE itself.\n",
     1,
     {"--speed", "-o"},
     {"--speed", "-o"},
     nullptr},
    {"cut",
     "FILE [--from T] [--to T] -o OUT",
     "keeps a span, by time or by event number",
     "Keeps the events from --from to --to, both included (the start and the\n"
     "end when left out). T is an event number (1 is the first, as kvrec info\n"
     "counts) or a time from the first event: 1500ms or 1.5s. The span must\n"
     "start with a key down or a move, as every recording does. A player gives\n"
     "a player, a .rec a .rec; OUT may be FILE itself.\n",
     1,
     {"--from", "--to", "-o"},
     {"-o"},
     nullptr},
    {"help",
     "[COMMAND]",
     "this list, or what one command does",
     "Lists the commands, or tells what one does.\n",
     -1,
     {},
     {},
     nullptr},
};

const Command* Find(const char* name) {
  for (const Command& c : kCommands)
    if (!strcmp(name, c.name)) return &c;
  return nullptr;
}

Text CommandList() {
  Text out =
      "kvrec: Kavorin's recordings as text, and players made from them.\n\n"
      "usage: kvrec COMMAND ARGUMENTS\n\n";
  for (const Command& c : kCommands) {
    Text call = Text("  ") + c.name + " " + c.usage;
    do call += ' ';
    while (call.size() < 43);
    out += call + c.summary + "\n";
  }
  return out +
         "\nFILE is a .rec file or a compiled player. kvrec COMMAND --help tells more.\n"
         "Exit status: 0 done; 1 bad input: the message names the file (file:line:column\n"
         "in a text) and what was expected, and nothing is written; 2 bad usage.\n";
}

Text Help(const Command& c) {
  return Text("usage: kvrec ") + c.name + " " + c.usage + "\n\n" + c.details +
         "\nExit status: 0 done, 1 bad input (nothing is written), 2 bad usage.\n";
}

bool Print(const Text& text, Failure& f) {
  return WriteStandard(1, text) || Fail(f, "standard output: cannot be written");
}

bool Usage(Failure& f, const Command& c, const Text& text) {
  return Fail(f,
              Text("kvrec ") + c.name + ": " + text + "\nusage: kvrec " + c.name + " " + c.usage +
                  "\n(kvrec " + c.name + " --help tells more)",
              2);
}

struct Args {
  const char* files[2] = {};
  int fileCount = 0;
  const char* values[4] = {};  // by the command's options
  bool help = false;

  const Command* command = nullptr;
  const char* Option(const char* name) const {
    for (int i = 0; i < 4 && command->options[i]; ++i)
      if (!strcmp(command->options[i], name)) return values[i];
    return nullptr;
  }
  const char* Out() const { return Option("-o"); }
};

bool ParseArgs(const Command& c, int argc, char** argv, Args& a, Failure& f) {
  a.command = &c;
  bool optionsOver = false;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsOver && (!strcmp(arg, "--help") || !strcmp(arg, "-h"))) {
      a.help = true;
      continue;
    }
    if (!optionsOver && !strcmp(arg, "--")) {
      optionsOver = true;
      continue;
    }
    if (!optionsOver && arg[0] == '-' && arg[1]) {
      const char* eq = !strncmp(arg, "--", 2) ? strchr(arg, '=') : nullptr;
      Text name = eq ? Text(arg, (size_t)(eq - arg)) : Text(arg);
      if (name == "--output") name = "-o";
      int known = -1;
      for (int k = 0; k < 4 && c.options[k]; ++k)
        if (name == c.options[k]) known = k;
      if (known < 0) return Usage(f, c, "unknown option " + Shown(arg));
      if (a.values[known]) return Usage(f, c, "option " + name + " given twice");
      const char* value = eq ? eq + 1 : i + 1 < argc ? argv[++i] : nullptr;
      if (!value || !*value) return Usage(f, c, "option " + name + " needs a value");
      a.values[known] = value;
      continue;
    }
    if (c.positional >= 0 && a.fileCount > c.positional)
      continue;  // the first one too many is named below
    if (a.fileCount < 2) a.files[a.fileCount] = arg;
    ++a.fileCount;
  }
  if (a.help) return true;
  if (c.positional >= 0 && a.fileCount != c.positional) {
    if (!a.fileCount) return Usage(f, c, "expected a file to work on");
    return Usage(f, c, "unexpected argument " + Shown(a.files[c.positional]));
  }
  for (int r = 0; r < 3 && c.required[r]; ++r)
    if (!a.Option(c.required[r]))
      return Usage(f, c,
                   Text("expected ") + c.required[r] +
                       (strcmp(c.required[r], "-o") ? " with a value" : " OUT"));
  return true;
}

bool Load(const char* path, Recording& r, Failure& f, bool* program = nullptr) {
  ByteList bytes;
  return ReadWhole(path, bytes, f) &&
         ParseRecording(path, bytes.data(), bytes.size(), r, f, program);
}

// Writing over an input whose kind the output changes would destroy it: a
// text replaced by a recording, Kavorin.exe by a player. Refused before
// anything is read or written.
bool RefuseOwnInput(const Args& a, const char* input, Failure& f) {
  const char* out = a.Out();
  if (!out || !a.command->kindChange || !strcmp(out, "-") || !SameFile(input, out)) return true;
  return Fail(f, Shown(out) + ": the output is the input" +
                     (strcmp(out, input) ? " " + Shown(input) : Text()) +
                     " itself: " + a.command->kindChange + "; expected another file for -o");
}

bool Info(const Args& a, Failure& f) {
  const char* path = a.files[0];
  bool program = false;
  Recording r;
  if (!Load(path, r, f, &program)) return false;
  Text out = "file: " + Shown(path) + "\nkind: " +
             (program    ? "Kavorin program, no recording appended"
              : r.player ? "compiled player"
                         : "recording (.rec)") +
             "\n";
  if (r.player) {
    out += "architecture: " + MachineName(r.machine) + "\n";
    out += "stamped size: " + Decimal(r.stampedSize) + " bytes\n";
    Text level;
    switch (RequestedLevel(r.image.data(), r.image.size(), level)) {
      case kNoManifest: out += "execution level: none requested (no manifest)\n"; break;
      case kNoLevelRequested: out += "execution level: none requested by its manifest\n"; break;
      case kLevelRequested: out += "execution level: " + Shown(level.c_str()) + "\n"; break;
    }
  }
  if (!program) {
    Summary s = Summarize(r.records);
    if (r.player)
      out += "recording: " + Decimal(r.records.size() * kRecordSize) + " bytes from byte " +
             Decimal(r.stampedSize) + "\n";
    out += "events: " + Decimal(r.records.size()) + " (" + KindCounts(s) + ")\n";
    if (s.played < r.records.size())
      out += "playback ends: at event " + Decimal(s.played + 1) + ", an end record; the " +
             Decimal(r.records.size() - s.played - 1) + " after it are never played\n";
    out += "duration: " + Seconds(s.durationMs) + "\n";
    if (s.mouse) {
      out += "mouse area: x ";
      out.AddSigned(s.left).Add(" to ", 4).AddSigned(s.right).Add(", y ", 4).AddSigned(s.top);
      out.Add(" to ", 4).AddSigned(s.bottom).Add(" (", 2).AddSigned((int64_t)s.right - s.left + 1);
      out.Add(" x ", 3).AddSigned((int64_t)s.bottom - s.top + 1) += " pixels)\n";
    } else {
      out += "mouse area: none\n";
    }
    out += HasPhysicalPixels(r.records.data(), (uint32_t)r.records.size())
               ? "positions: physical pixels (marked by its second event)\n"
               : "positions: pixels of a program that is not DPI-aware\n";
  }
  return Print(out, f);
}

bool Dump(const Args& a, Failure& f) {
  Recording r;
  if (!RefuseOwnInput(a, a.files[0], f) || !Load(a.files[0], r, f)) return false;
  const char* name = !strcmp(a.files[0], "-") ? "standard input" : FileNameOf(a.files[0]);
  Text text = WriteText(r.records, name);
  return WriteWhole(a.Out() ? a.Out() : "-", text.data(), text.size(), false, f);
}

bool Build(const Args& a, Failure& f) {
  const char* path = a.files[0];
  ByteList bytes;
  if (!RefuseOwnInput(a, path, f) || !ReadWhole(path, bytes, f)) return false;
  Records records;
  TextError e;
  if (!ReadText((const char*)bytes.data(), bytes.size(), records, e)) {
    Text where = !strcmp(path, "-") ? Text("<stdin>") : Shown(path);
    if (e.line) where += ":" + Decimal(e.line) + ":" + Decimal(e.column);
    return Fail(f, where + ": " + e.what);
  }
  return WriteWhole(a.Out(), RecordBytes(records), false, f);
}

bool Extract(const Args& a, Failure& f) {
  Recording r;
  if (!RefuseOwnInput(a, a.files[0], f) || !Load(a.files[0], r, f)) return false;
  if (!r.player)
    return Fail(f, Shown(a.files[0]) +
                       ": a .rec file already; expected a compiled player (a program with a "
                       "recording behind it)");
  return WriteWhole(a.Out(), RecordBytes(r.records), false, f);
}

bool Compile(const Args& a, Failure& f) {
  const char* with = a.Option("--with");
  Recording rec, player;
  ByteList program;
  if (!RefuseOwnInput(a, a.files[0], f) || !RefuseOwnInput(a, with, f) ||
      !Load(a.files[0], rec, f) || !ReadWhole(with, program, f) ||
      !ParseProgram(with, program.data(), program.size(), player, f))
    return false;
  player.records = rec.records;
  return WriteWhole(a.Out(), FileBytes(player), true, f);
}

// Retime and cut keep the form: a player stays a player.
bool Write(const Recording& r, const Args& a, Failure& f) {
  return WriteWhole(a.Out(), FileBytes(r), r.player, f);
}

// A decimal number: digits, with a fraction after a point. Read here (no
// strtod), so no hex, exponent, sign or word slips in.
bool ParseSpeed(const char* text, double& speed) {
  double digits = 0, scale = 1;
  bool point = false, any = false;
  for (const char* c = text; *c; ++c) {
    if (*c >= '0' && *c <= '9') {
      digits = digits * 10 + (*c - '0');
      scale *= point ? 10 : 1;
      any = true;
    } else if (*c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  speed = digits / scale;
  return any && speed > 0 && speed <= 1e9;
}

bool RetimeCommand(const Args& a, Failure& f) {
  const char* text = a.Option("--speed");
  double speed = 0;
  if (!ParseSpeed(text, speed))
    return Usage(
        f, *a.command,
        "--speed " + Shown(text) + ": expected a decimal number above 0, such as 2 or 0.5");
  Recording r;
  Records retimed;
  if (!Load(a.files[0], r, f) || !Retime(r.records, speed, text, a.files[0], retimed, f))
    return false;
  r.records = retimed;
  return Write(r, a, f);
}

bool CutCommand(const Args& a, Failure& f) {
  SpanEnd ends[2];
  const char* names[2] = {"--from", "--to"};
  for (int i = 0; i < 2; ++i) {
    const char* value = a.Option(names[i]);
    if (value && !ParseSpanEnd(value, ends[i]))
      return Usage(f, *a.command,
                   Text(names[i]) + " " + Shown(value) +
                       ": expected an event number from 1, or a time such as 1500ms or 1.5s");
  }
  Recording r;
  Records kept;
  if (!Load(a.files[0], r, f) || !Cut(r.records, ends[0], ends[1], a.files[0], kept, f))
    return false;
  r.records = kept;
  return Write(r, a, f);
}

bool Run(int argc, char** argv, Failure& f) {
  if (argc < 2) {
    WriteStandard(2, CommandList());
    f.status = 2;
    return false;
  }
  const char* name = argv[1];
  const Command* c = Find(name);
  Args a;
  if (!strcmp(name, "help") || !strcmp(name, "--help") || !strcmp(name, "-h")) {
    if (argc < 3) return Print(CommandList(), f);
    c = Find(argv[2]);
    if (!c)
      return Fail(f, "kvrec help: unknown command " + Shown(argv[2]) + " (kvrec help lists them)",
                  2);
    return Print(Help(*c), f);
  }
  if (!c) return Fail(f, "kvrec: unknown command " + Shown(name) + " (kvrec help lists them)", 2);
  if (!ParseArgs(*c, argc - 2, argv + 2, a, f)) return false;
  if (a.help) return Print(Help(*c), f);
  return !strcmp(name, "info")      ? Info(a, f)
         : !strcmp(name, "dump")    ? Dump(a, f)
         : !strcmp(name, "build")   ? Build(a, f)
         : !strcmp(name, "extract") ? Extract(a, f)
         : !strcmp(name, "compile") ? Compile(a, f)
         : !strcmp(name, "retime")  ? RetimeCommand(a, f)
                                    : CutCommand(a, f);
}

}  // namespace

int main(int argc, char** argv) {
  Failure f;
  if (Run(argc, argv, f)) return 0;
  if (!f.text.empty()) WriteStandard(2, f.text + "\n");
  return f.status ? f.status : 1;
}
