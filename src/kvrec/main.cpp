// kvrec: Kavorin's recordings as text, to read, edit and build, and players
// made from them or taken apart, from a command line on Windows or Linux.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kvrec/files.h"
#include "kvrec/recording.h"
#include "kvrec/text.h"

namespace {

struct Command {
  const char* name;
  const char* usage;                 // the arguments
  const char* summary;               // one line for the list
  const char* details;               // for COMMAND --help
  int positional;                    // how many file arguments
  std::vector<const char*> options;  // the options it takes, each with a value
  std::vector<const char*> required;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "FILE",
       "what a recording or a compiled player holds",
       "Prints whether FILE is a .rec file or a compiled player (and then its\n"
       "architecture and stamped size), the number of events of each kind, how\n"
       "long a run takes at recorded speed, and the area the mouse covered.\n",
       1,
       {},
       {}},
      {"dump",
       "FILE [-o OUT]",
       "the recording as text",
       "Writes the recording of FILE (a .rec file or a compiled player) as text:\n"
       "one event per line, the wait before it in milliseconds, then the event.\n"
       "Without -o the text goes to the standard output. kvrec build turns the\n"
       "text back into the very same bytes. The format: docs/kvrec.md.\n",
       1,
       {"-o"},
       {}},
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
       {"-o"}},
      {"extract",
       "PLAYER.exe -o OUT.rec",
       "the recording a compiled player carries",
       "Writes the recording appended to a compiled player, found behind the size\n"
       "stamped inside the player's own program, as a .rec file.\n",
       1,
       {"-o"},
       {"-o"}},
      {"compile",
       "REC --with Kavorin.exe -o OUT.exe",
       "a player, as Kavorin's Compile button makes it",
       "Makes a compiled player: Kavorin.exe (as built, either architecture)\n"
       "followed by the recording of REC (a .rec file, or a compiled player whose\n"
       "recording is taken).\n",
       1,
       {"--with", "-o"},
       {"--with", "-o"}},
      {"retime",
       "FILE --speed F -o OUT",
       "waits divided by F",
       "Divides every wait by F (2 plays twice as fast, 0.5 half as fast), rounded\n"
       "to the millisecond so that the whole run scales too. A player gives a\n"
       "player, a .rec a .rec.\n",
       1,
       {"--speed", "-o"},
       {"--speed", "-o"}},
      {"cut",
       "FILE [--from T] [--to T] -o OUT",
       "keeps a span, by time or by event number",
       "Keeps the events from --from to --to, both included (the start and the\n"
       "end when left out). T is an event number (1 is the first, as kvrec info\n"
       "counts) or a time from the first event: 1500ms or 1.5s. The span must\n"
       "start with a key down or a move, as every recording does. A player gives\n"
       "a player, a .rec a .rec.\n",
       1,
       {"--from", "--to", "-o"},
       {"-o"}},
      {"help",
       "[COMMAND]",
       "this list, or what one command does",
       "Lists the commands, or tells what one does.\n",
       -1,
       {},
       {}},
  };
  return commands;
}

const Command* Find(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

void PrintList(FILE* to) {
  fprintf(to,
          "kvrec: Kavorin's recordings as text, and players made from them.\n\n"
          "usage: kvrec COMMAND ARGUMENTS\n\n");
  for (const Command& c : Commands()) {
    std::string call = std::string(c.name) + " " + c.usage;
    fprintf(to, "  %-40s %s\n", call.c_str(), c.summary);
  }
  fprintf(to,
          "\nFILE is a .rec file or a compiled player. kvrec COMMAND --help tells more.\n"
          "Exit status: 0 done; 1 bad input: the message names the file (file:line:column\n"
          "in a text) and what was expected, and nothing is written; 2 bad usage.\n");
}

void PrintHelp(const Command& c) {
  printf("usage: kvrec %s %s\n\n%s", c.name, c.usage, c.details);
  printf("\nExit status: 0 done, 1 bad input (nothing is written), 2 bad usage.\n");
}

struct Usage : Failure {
  Usage(const Command& c, const std::string& text)
      : Failure("kvrec " + std::string(c.name) + ": " + text + "\nusage: kvrec " + c.name + " " +
                    c.usage + "\n(kvrec " + c.name + " --help tells more)",
                2) {}
};

struct Args {
  std::vector<std::string> files;
  std::map<std::string, std::string> options;
  bool help = false;
};

Args ParseArgs(const Command& c, int argc, char** argv) {
  Args a;
  bool optionsOver = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsOver && (arg == "--help" || arg == "-h")) {
      a.help = true;
      continue;
    }
    if (!optionsOver && arg == "--") {
      optionsOver = true;
      continue;
    }
    if (!optionsOver && arg.size() > 1 && arg[0] == '-') {
      std::string name = arg, value;
      bool inlineValue = false;
      size_t eq = arg.find('=');
      if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inlineValue = true;
      }
      if (name == "--output") name = "-o";
      bool known = false;
      for (const char* o : c.options) known = known || name == o;
      if (!known) throw Usage(c, "unknown option " + arg);
      if (a.options.count(name)) throw Usage(c, "option " + name + " given twice");
      if (!inlineValue) {
        if (i + 1 >= argc) throw Usage(c, "option " + name + " needs a value");
        value = argv[++i];
      }
      if (value.empty()) throw Usage(c, "option " + name + " needs a value");
      a.options[name] = value;
      continue;
    }
    a.files.push_back(arg);
  }
  if (a.help) return a;
  if (c.positional >= 0 && (int)a.files.size() != c.positional) {
    if (a.files.empty()) throw Usage(c, "expected a file to work on");
    throw Usage(c, "unexpected argument " + a.files[(size_t)c.positional]);
  }
  for (const char* r : c.required)
    if (!a.options.count(r))
      throw Usage(
          c, std::string("expected ") + r + (std::string(r) == "-o" ? " OUT" : " with a value"));
  return a;
}

Recording Load(const std::string& path) { return ParseRecording(path, ReadWhole(path)); }

std::string FileName(const std::string& path) {
  if (path == "-") return "standard input";
  return std::filesystem::path(path).filename().string();
}

void Info(const Args& a) {
  const std::string& path = a.files[0];
  bool program = false;
  Recording r = ParseRecording(path, ReadWhole(path), &program);
  printf("file: %s\n", path.c_str());
  printf("kind: %s\n", program    ? "Kavorin program, no recording appended"
                       : r.player ? "compiled player"
                                  : "recording (.rec)");
  if (r.player) {
    printf("architecture: %s\n", MachineName(r.machine).c_str());
    printf("stamped size: %u bytes\n", (unsigned)r.stampedSize);
  }
  if (program) return;
  Summary s = Summarize(r.records);
  if (r.player)
    printf("recording: %zu bytes from byte %u\n", r.records.size() * kRecordSize,
           (unsigned)r.stampedSize);
  printf("events: %zu (%s)\n", r.records.size(), KindCounts(s).c_str());
  if (s.played < r.records.size())
    printf("playback ends: at event %zu, an end record; the %zu after it are never played\n",
           s.played + 1, r.records.size() - s.played - 1);
  printf("duration: %s\n", Seconds(s.durationMs).c_str());
  if (s.mouse)
    printf("mouse area: x %d to %d, y %d to %d (%lld x %lld pixels)\n", s.left, s.right, s.top,
           s.bottom, (long long)s.right - s.left + 1, (long long)s.bottom - s.top + 1);
  else
    printf("mouse area: none\n");
}

void Dump(const Args& a) {
  Recording r = Load(a.files[0]);
  std::string text = WriteText(r.records, FileName(a.files[0]));
  auto out = a.options.find("-o");
  if (out != a.options.end()) {
    WriteWhole(out->second, text.data(), text.size());
  } else if (fwrite(text.data(), 1, text.size(), stdout) != text.size() || fflush(stdout) != 0) {
    throw Failure("standard output: cannot be written");
  }
}

void Build(const Args& a) {
  const std::string& path = a.files[0];
  std::vector<unsigned char> bytes = ReadWhole(path);
  std::vector<EventRecord> records;
  TextError e;
  if (!ReadText(std::string_view((const char*)bytes.data(), bytes.size()), records, e))
    throw Failure((path == "-" ? std::string("<stdin>") : path) + ":" + std::to_string(e.line) +
                  ":" + std::to_string(e.column) + ": " + e.what);
  std::vector<unsigned char> out = RecordBytes(records);
  WriteWhole(a.options.at("-o"), out.data(), out.size());
}

void Extract(const Args& a) {
  Recording r = Load(a.files[0]);
  if (!r.player)
    throw Failure(
        a.files[0] +
        ": a .rec file already; expected a compiled player (a program with a recording behind it)");
  std::vector<unsigned char> out = RecordBytes(r.records);
  WriteWhole(a.options.at("-o"), out.data(), out.size());
}

void Compile(const Args& a) {
  Recording rec = Load(a.files[0]);
  const std::string& with = a.options.at("--with");
  Recording player = ParseProgram(with, ReadWhole(with));
  player.records = rec.records;
  std::vector<unsigned char> out = Bytes(player);
  WriteWhole(a.options.at("-o"), out.data(), out.size(), true);
}

void Write(const Recording& r, const Args& a) {
  std::vector<unsigned char> out = Bytes(r);
  WriteWhole(a.options.at("-o"), out.data(), out.size(), r.player);
}

void RetimeCommand(const Command& c, const Args& a) {
  const std::string& text = a.options.at("--speed");
  char* end = nullptr;
  double speed = strtod(text.c_str(), &end);
  if (end == text.c_str() || *end || !(speed > 0) || speed > 1e9)
    throw Usage(c, "--speed " + text + ": expected a number above 0, such as 2 or 0.5");
  Recording r = Load(a.files[0]);
  r.records = Retime(r.records, speed, a.files[0]);
  Write(r, a);
}

void CutCommand(const Command& c, const Args& a) {
  SpanEnd from, to;
  for (auto [option, end] : {std::pair<const char*, SpanEnd*>{"--from", &from}, {"--to", &to}}) {
    auto found = a.options.find(option);
    if (found != a.options.end() && !ParseSpanEnd(found->second, *end))
      throw Usage(c, std::string(option) + " " + found->second +
                         ": expected an event number from 1, or a time such as 1500ms or 1.5s");
  }
  Recording r = Load(a.files[0]);
  r.records = Cut(r.records, from, to, a.files[0]);
  Write(r, a);
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    PrintList(stderr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    if (argc >= 3) {
      const Command* c = Find(argv[2]);
      if (!c)
        throw Failure(
            "kvrec help: unknown command " + std::string(argv[2]) + " (kvrec help lists them)", 2);
      PrintHelp(*c);
    } else {
      PrintList(stdout);
    }
    return 0;
  }
  const Command* c = Find(name);
  if (!c) throw Failure("kvrec: unknown command " + name + " (kvrec help lists them)", 2);
  Args a = ParseArgs(*c, argc - 2, argv + 2);
  if (a.help) {
    PrintHelp(*c);
    return 0;
  }
  if (name == "info")
    Info(a);
  else if (name == "dump")
    Dump(a);
  else if (name == "build")
    Build(a);
  else if (name == "extract")
    Extract(a);
  else if (name == "compile")
    Compile(a);
  else if (name == "retime")
    RetimeCommand(*c, a);
  else if (name == "cut")
    CutCommand(*c, a);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& f) {
    fflush(stdout);
    fprintf(stderr, "%s\n", f.what());
    return f.status;
  } catch (const std::exception& e) {
    fprintf(stderr, "kvrec: %s\n", e.what());
    return 1;
  }
}
