// The printer-care library: the bytes of each maintenance job per family,
// the reading of the printer's ink-level answer, the inks CUPS is told of.

#include <gtest/gtest.h>

#include <string>

#include "care.h"
#include "expect.h"
#include "harness.h"

namespace {

// Enter remote mode, and leave it, as every job does.
const std::string kRemote = "ESC ( R 00 52 45 4d 4f 54 45 31 | ";
const std::string kLeave = " | ESC 00 00 00";

struct JobCase
{
  int family;
  care_command_t command;
  std::string bytes;  // empty: no job
};

// The older families leave packet mode exactly as the print filter's job
// start does (and reset); the large-format ones only reset.
const JobCase kJobs[] = {
    {4, CARE_CLEAN, expect::kJobStartEjl + kRemote + "CH 00 00" + kLeave},
    {11, CARE_CLEAN, expect::kJobStartEjl + kRemote + "CH 00 00" + kLeave},
    {5000, CARE_CLEAN, "ESC @ | " + kRemote + "CH 00 00" + kLeave},
    {7, CARE_SELF_TEST, expect::kJobStartEjl + kRemote + "VI 00 00 | NC 00 00" + kLeave + " | FF"},
    {10000, CARE_SELF_TEST, "ESC @ | " + kRemote + "VI 00 00 | NC 00 00" + kLeave + " | FF"},
    {9, CARE_REPORT_LEVELS, expect::kJobStartEjl + kRemote + "IQ 01" + kLeave},
    {9600, CARE_REPORT_LEVELS, "ESC @ | " + kRemote + "IQ 01" + kLeave},
    // No remote mode on families 1 to 3, nor on numbers inkbands does not know.
    {1, CARE_CLEAN, ""},
    {3, CARE_SELF_TEST, ""},
    {12, CARE_REPORT_LEVELS, ""},
    {7, (care_command_t)3, ""},
};

TEST(CareJob, BytesPerFamilyAndCommand)
{
  for (const JobCase &c : kJobs) {
    unsigned char job[CARE_JOB_MAX];
    size_t length = cupsCareJob(c.family, c.command, job);
    std::string got((const char *)job, length);
    std::string diff = harness::DiffStreams(harness::Hex(c.bytes), got);
    EXPECT_TRUE(diff.empty()) << "family " << c.family << " command " << c.command << "\n" << diff;
    EXPECT_EQ(!c.bytes.empty(), cupsCareSupported(c.family) && c.command <= 2);
  }
}

TEST(CareJob, CommandWords)
{
  EXPECT_EQ(CARE_CLEAN, cupsCareCommand("Clean"));
  EXPECT_EQ(CARE_SELF_TEST, cupsCareCommand("PrintSelfTestPage"));
  EXPECT_EQ(CARE_REPORT_LEVELS, cupsCareCommand("ReportLevels"));
  EXPECT_EQ(-1, cupsCareCommand("clean"));
  EXPECT_EQ(-1, cupsCareCommand("AutoConfigure"));
  EXPECT_EQ(-1, cupsCareCommand(""));
  EXPECT_EQ(-1, cupsCareCommand(nullptr));
}

struct AnswerCase
{
  const char *what;
  std::string answer;
  int count;  // -1: no complete answer
  std::vector<int> levels;
};

const AnswerCase kAnswers[] = {
    {"four inks", "IQ:40326455;", 4, {64, 50, 100, 85}},
    {"six inks", "IQ:0a141e28323c;", 6, {10, 20, 30, 40, 50, 60}},
    {"three inks, capitals", "IQ:0A1B2C;", 3, {10, 27, 44}},
    {"after other status", "@BDC ST2\r\nIQ:00000000;\r\n", 4, {0, 0, 0, 0}},
    {"a value above 100", "IQ:6465ff00;", 4, {100, -1, -1, 0}},
    {"eight inks", "IQ:0102030405060708;", 8, {1, 2, 3, 4, 5, 6, 7, 8}},
    {"nine inks", "IQ:010203040506070809;", -1, {}},
    {"cut short", "IQ:403264", -1, {}},
    {"odd digit", "IQ:40326;", -1, {}},
    {"not hexadecimal", "IQ:40g264;", -1, {}},
    {"no inks", "IQ:;", -1, {}},
    {"no IQ", "ST:40326455;", -1, {}},
    {"garbage", std::string("\x00\xff\x1bIQ\x00:", 7), -1, {}},
    {"nothing", "", -1, {}},
};

TEST(CareLevels, ParseAnswer)
{
  for (const AnswerCase &c : kAnswers) {
    int levels[CARE_INKS_MAX];
    int count = cupsCareParseLevels(c.answer.data(), c.answer.size(), levels);
    EXPECT_EQ(c.count, count) << c.what;
    if (count == c.count && count > 0) {
      EXPECT_EQ(c.levels, std::vector<int>(levels, levels + count)) << c.what;
    }
  }
  int levels[CARE_INKS_MAX];
  EXPECT_EQ(-1, cupsCareParseLevels(nullptr, 5, levels));
}

struct InkCase
{
  int count;
  std::vector<std::string> names, colours;  // empty: no ink set
};

const InkCase kInks[] = {
    {3, {"Cyan", "Magenta", "Yellow"}, {"#00ffff", "#ff00ff", "#ffff00"}},
    {4, {"Black", "Cyan", "Magenta", "Yellow"}, {"#000000", "#00ffff", "#ff00ff", "#ffff00"}},
    {6,
     {"Black", "Cyan", "Magenta", "Yellow", "Light Cyan", "Light Magenta"},
     {"#000000", "#00ffff", "#ff00ff", "#ffff00", "#80ffff", "#ff80ff"}},
    {7,
     {"Black", "Cyan", "Magenta", "Yellow", "Light Cyan", "Light Magenta", "Light Black"},
     {"#000000", "#00ffff", "#ff00ff", "#ffff00", "#80ffff", "#ff80ff", "#808080"}},
    {5, {}, {}},
    {0, {}, {}},
    {-1, {}, {}},
};

TEST(CareLevels, InksByCount)
{
  for (const InkCase &c : kInks) {
    const care_ink_t *inks = cupsCareInks(c.count);
    ASSERT_EQ(c.names.empty(), inks == nullptr) << c.count;
    for (size_t i = 0; i < c.names.size(); i++) {
      EXPECT_EQ(c.names[i], inks[i].name) << c.count;
      EXPECT_EQ(c.colours[i], inks[i].colour) << c.count;
    }
  }
}

TEST(CareLevels, InksByFamily)
{
  const std::pair<int, int> kFamilyInks[] = {
      {1, 4},  {4, 4},    {5, 6},    {6, 6},    {7, 6},    {8, 4},     {9, 4},  {10, 4},
      {11, 4}, {5000, 6}, {5500, 6}, {9000, 6}, {9600, 7}, {10000, 6}, {12, 0}, {0, 0},
  };
  for (const auto &c : kFamilyInks)
    EXPECT_EQ(c.second, cupsCareFamilyInks(c.first)) << "family " << c.first;
}

}  // namespace
