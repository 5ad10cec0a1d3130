// The command filter end to end: command files in, maintenance jobs out,
// the printer's ink-level answer read from the back channel (descriptor 3)
// and reported to CUPS as marker attributes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "check.h"
#include "expect.h"
#include "harness.h"

namespace {

const std::string kRemote = "ESC ( R 00 52 45 4d 4f 54 45 31 | ";
const std::string kLeave = " | ESC 00 00 00 | ";
const std::string kClean = kRemote + "CH 00 00" + kLeave;
const std::string kSelfTest = kRemote + "VI 00 00 | NC 00 00" + kLeave + " | FF | ";
const std::string kLevels = kRemote + "IQ 01" + kLeave;

const std::string kInfoClean = "INFO: Cleaning the print heads...";
const std::string kInfoSelfTest = "INFO: Printing the nozzle check...";
const std::string kInfoLevels = "INFO: Asking the printer for its ink levels...";
const std::string kNoBackChannel = "DEBUG: No back channel from the printer.";
const std::string kFourMarkers =
    "ATTR: marker-colors=#000000,#00ffff,#ff00ff,#ffff00 marker-names=Black,Cyan,Magenta,Yellow "
    "marker-types=ink-cartridge,ink-cartridge,ink-cartridge,ink-cartridge marker-levels=";
const std::string kSixMarkers =
    "ATTR: marker-colors=#000000,#00ffff,#ff00ff,#ffff00,#80ffff,#ff80ff "
    "marker-names=\"Black,Cyan,Magenta,Yellow,Light Cyan,Light Magenta\" "
    "marker-types=ink-cartridge,ink-cartridge,ink-cartridge,ink-cartridge,ink-cartridge,"
    "ink-cartridge marker-levels=";

// The printer's side of the back channel for one run.
enum class Printer
{
  None,
  Answers,
  Silent
};

// Runs the command filter on a command file for a family; a printer that
// answers has `answer` waiting on descriptor 3, a silent one keeps it open.
harness::Result RunCommands(int family, const std::string &file, bool as_argument = true,
                            Printer printer = Printer::None, const std::string &answer = "")
{
  std::string ppd = harness::WritePpd(family, harness::DefaultSizes());
  std::string path = harness::WriteFile(file, ".cmd");
  // The printer's end of the back channel stays above the descriptors the
  // filter looks at and is not inherited; there is no side channel (4), so
  // the filter does not wait for delivery.
  int saved = dup(3), saved_side = dup(4), channel[2] = {-1, -1};
  if (printer != Printer::None) {
    int ends[2];
    EXPECT_EQ(0, pipe(ends));
    EXPECT_EQ((ssize_t)answer.size(), write(ends[1], answer.data(), answer.size()));
    for (int k = 0; k < 2; k++) {
      channel[k] = fcntl(ends[k], F_DUPFD_CLOEXEC, 10);
      close(ends[k]);
    }
    dup2(channel[0], 3);
    close(channel[0]);
    if (printer == Printer::Answers) close(channel[1]);
  } else {
    close(3);
  }
  close(4);
  std::vector<std::string> args = {"inkbands-commands", "1", "tester", "care", "1", ""};
  if (as_argument) args.push_back(path);
  harness::Result result = harness::RunFilter({ppd, "", as_argument ? "" : path, args});
  close(3);
  if (printer == Printer::Silent) close(channel[1]);
  if (saved >= 0) {
    dup2(saved, 3);
    close(saved);
  }
  if (saved_side >= 0) {
    dup2(saved_side, 4);
    close(saved_side);
  }
  return result;
}

struct FileCase
{
  const char *what;
  int family;
  std::string file;
  std::string bytes;
  std::vector<std::string> err;
  int status;
};

const FileCase kFiles[] = {
    {"nozzle check, family 9000, arguments and comments ignored",
     9000,
     "#CUPS-COMMAND\r\n# a comment\r\n\r\n  PrintSelfTestPage all\r\n",
     "ESC @ | " + kSelfTest,
     {kInfoSelfTest},
     0},
    {"every command, family 4, one job each",
     4,
     "#CUPS-COMMAND\nClean\nAutoConfigure\nPrintSelfTestPage\nReportLevels",
     expect::kJobStartEjl + kClean + expect::kJobStartEjl + kSelfTest + expect::kJobStartEjl +
         kLevels,
     {kInfoClean, "DEBUG: Line 3: unknown command \"AutoConfigure\" skipped.", kInfoSelfTest,
      kInfoLevels, kNoBackChannel,
      "INFO: The printer did not answer the ink-level query; ink levels unknown.",
      kFourMarkers + "-1,-1,-1,-1"},
     0},
    {"no commands", 7, "#CUPS-COMMAND\n", "", {}, 0},
    {"family 2 takes no remote mode",
     2,
     "#CUPS-COMMAND\nClean\nReportLevels\n",
     "",
     {"ERROR: Printers of family 2 take no Clean command from the computer; use the printer's "
      "own buttons.",
      "INFO: This printer does not report ink levels; ink levels unknown.",
      kFourMarkers + "-1,-1,-1,-1"},
     1},
    {"no #CUPS-COMMAND line",
     7,
     "Clean\n",
     "",
     {"ERROR: This is not a CUPS command file (it does not start with #CUPS-COMMAND)."},
     1},
    {"a longer first word",
     7,
     "#CUPS-COMMANDS\nClean\n",
     "",
     {"ERROR: This is not a CUPS command file (it does not start with #CUPS-COMMAND)."},
     1},
    {"empty", 7, "", "", {"ERROR: This is not a CUPS command file (it is empty)."}, 1},
    {"binary after good lines",
     7,
     std::string("#CUPS-COMMAND\nClean\n\x1b@\x00\x01", 24),
     "",
     {"ERROR: This is not a CUPS command file (binary data on line 3)."},
     1},
    {"a huge line",
     7,
     "#CUPS-COMMAND\nClean\n" + std::string(300, 'A') + "\n",
     "",
     {"ERROR: This is not a CUPS command file (line 3 is longer than 256 characters)."},
     1},
    {"a huge file",
     7,
     "#CUPS-COMMAND\n" + std::string(70000, '\n'),
     "",
     {"ERROR: This is not a CUPS command file (larger than 64 KiB)."},
     1},
};

TEST(CommandFilter, CommandFiles)
{
  for (const FileCase &c : kFiles) {
    SCOPED_TRACE(c.what);
    check::ExpectRun(RunCommands(c.family, c.file), c.bytes, c.err, c.status);
  }
}

TEST(CommandFilter, CommandFileOnStandardInput)
{
  check::ExpectRun(RunCommands(5500, "#CUPS-COMMAND\nClean\n", false), "ESC @ | " + kClean,
                   {kInfoClean}, 0);
}

TEST(CommandFilter, RefusesBadRuns)
{
  harness::Result usage = harness::RunFilter({"", "", "", {"inkbands-commands", "1"}});
  check::ExpectRun(usage, "", {"ERROR: inkbands-commands job-id user title copies options [file]"},
                   1);
  harness::Result no_ppd =
      harness::RunFilter({"", "", "", {"inkbands-commands", "1", "u", "t", "1", ""}});
  check::ExpectRun(no_ppd, "", {expect::kNoPpd}, 1);
  std::string ppd = harness::WritePpd(7, harness::DefaultSizes());
  harness::Result missing = harness::RunFilter(
      {ppd, "", "", {"inkbands-commands", "1", "u", "t", "1", "", harness::TempPath(".cmd")}});
  check::ExpectRun(missing, "", {"ERROR: Unable to open command file - No such file or directory"},
                   1);
}

struct AnswerCase
{
  const char *what;
  int family;
  Printer printer;
  std::string answer;
  std::vector<std::string> report;
};

const AnswerCase kAnswers[] = {
    {"four inks",
     9,
     Printer::Answers,
     "IQ:40326455;",
     {"INFO: Ink levels reported.", kFourMarkers + "64,50,100,85"}},
    {"six inks after other status",
     7,
     Printer::Answers,
     "@BDC ST2\r\nIQ:0a141e28323c;\r\n",
     {"INFO: Ink levels reported.", kSixMarkers + "10,20,30,40,50,60"}},
    {"three inks on a four-ink family",
     4,
     Printer::Answers,
     "IQ:0A1B2C;",
     {"INFO: Ink levels reported.",
      "ATTR: marker-colors=#00ffff,#ff00ff,#ffff00 marker-names=Cyan,Magenta,Yellow "
      "marker-types=ink-cartridge,ink-cartridge,ink-cartridge marker-levels=10,27,44"}},
    {"cut short",
     7,
     Printer::Answers,
     "IQ:0a141e",
     {"DEBUG: The printer answered 9 bytes without a complete IQ answer.",
      "INFO: The printer's ink-level answer was not understood; ink levels unknown.",
      kSixMarkers + "-1,-1,-1,-1,-1,-1"}},
    {"five inks",
     9,
     Printer::Answers,
     "IQ:0a141e2832;",
     {"INFO: The printer's ink-level answer was not understood; ink levels unknown.",
      kFourMarkers + "-1,-1,-1,-1"}},
    {"garbage",
     9,
     Printer::Answers,
     std::string("\xff\x00garbage", 9),
     {"DEBUG: The printer answered 9 bytes without a complete IQ answer.",
      "INFO: The printer's ink-level answer was not understood; ink levels unknown.",
      kFourMarkers + "-1,-1,-1,-1"}},
    {"closed without a word",
     9,
     Printer::Answers,
     "",
     {"INFO: The printer did not answer the ink-level query; ink levels unknown.",
      kFourMarkers + "-1,-1,-1,-1"}},
    // The filter waits a few seconds for a printer that never answers.
    {"silent",
     5000,
     Printer::Silent,
     "",
     {"INFO: The printer did not answer the ink-level query; ink levels unknown.",
      kSixMarkers + "-1,-1,-1,-1,-1,-1"}},
};

TEST(CommandFilter, InkLevelAnswers)
{
  for (const AnswerCase &c : kAnswers) {
    SCOPED_TRACE(c.what);
    std::string start = c.family < 5000 ? expect::kJobStartEjl : "ESC @ | ";
    std::vector<std::string> err = {kInfoLevels};
    check::Append(err, c.report);
    harness::Result got =
        RunCommands(c.family, "#CUPS-COMMAND\nReportLevels\n", true, c.printer, c.answer);
    check::ExpectRun(got, start + kLevels, err, 0);
  }
}

}  // namespace
