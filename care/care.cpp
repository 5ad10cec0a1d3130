// inkbands printer care: remote-mode maintenance jobs and ink levels.

#include "care.h"

#include <string.h>

namespace {

// Printers of families up to 4999 may sit in IEEE 1284.4 packet mode and
// then ignore plain ESC/P2; this Epson job-language sequence takes them out
// of it. It is the very sequence the print filter sends at job start (there
// followed by ESC @), so that a maintenance job reaches the printer exactly
// as a print job does.
const unsigned char kExitPacketMode[] = "\000\000\000\033\001@EJL 1284.4\n@EJL     \n";
const size_t kExitPacketModeLength = sizeof(kExitPacketMode) - 1;
const unsigned char kReset[] = {0x1B, 0x40};
const unsigned char kEnterRemoteMode[] = {0x1B, 0x28, 0x52, 0x08, 0x00, 0x00, 'R',
                                          'E',  'M',  'O',  'T',  'E',  '1'};
const unsigned char kLeaveRemoteMode[] = {0x1B, 0x00, 0x00, 0x00};
const unsigned char kFormFeed = 0x0C;

// The families inkbands knows, how many inks their printers carry and
// whether they take remote mode (the print filter sends none to 1 to 3).
struct CareFamily
{
  int number;
  int inks;
  bool remote_mode;
};
const CareFamily kFamilies[] = {
    {1, 4, false},   {2, 4, false},   {3, 4, false},   {4, 4, true},
    {5, 6, true},    {6, 6, true},    {7, 6, true},    {8, 4, true},
    {9, 4, true},    {10, 4, true},   {11, 4, true},   {5000, 6, true},
    {5500, 6, true}, {9000, 6, true}, {9600, 7, true}, {10000, 6, true},
};

// One remote-mode command: two letters and its parameter bytes.
struct RemoteCommand
{
  char name[3];
  unsigned char count;
  unsigned char parameters[2];
};
const RemoteCommand kCleanAllHeads = {"CH", 2, {0x00, 0x00}};
const RemoteCommand kVersionInformation = {"VI", 2, {0x00, 0x00}};
const RemoteCommand kNozzleCheck = {"NC", 2, {0x00, 0x00}};
const RemoteCommand kInkQuantity = {"IQ", 1, {0x01}};

// What each maintenance job sends inside remote mode, and whether a page
// comes out of the printer afterwards.
struct CareJob
{
  const char *word;
  RemoteCommand commands[2];
  int count;
  bool ejects_page;
};
const CareJob kJobs[] = {
    {"Clean", {kCleanAllHeads}, 1, false},
    {"PrintSelfTestPage", {kVersionInformation, kNozzleCheck}, 2, true},
    {"ReportLevels", {kInkQuantity}, 1, false},
};

const care_ink_t kThreeInks[] = {
    {"Cyan", "#00ffff"},
    {"Magenta", "#ff00ff"},
    {"Yellow", "#ffff00"},
};
const care_ink_t kSevenInks[] = {
    {"Black", "#000000"},       {"Cyan", "#00ffff"},       {"Magenta", "#ff00ff"},
    {"Yellow", "#ffff00"},      {"Light Cyan", "#80ffff"}, {"Light Magenta", "#ff80ff"},
    {"Light Black", "#808080"},
};

// The family's row, or null for a number inkbands does not know.
const CareFamily *FindFamily(int family)
{
  for (const CareFamily &row : kFamilies)
    if (row.number == family) return &row;
  return nullptr;
}

// Append bytes to the job being built.
unsigned char *Put(unsigned char *out, const unsigned char *bytes, size_t length)
{
  memcpy(out, bytes, length);
  return out + length;
}

// Append one remote-mode command: its letters, the 16-bit little-endian
// parameter count, the parameters.
unsigned char *PutRemote(unsigned char *out, const RemoteCommand &command)
{
  *out++ = command.name[0];
  *out++ = command.name[1];
  *out++ = command.count & 0xFF;
  *out++ = command.count >> 8;
  return Put(out, command.parameters, command.count);
}

// The value of one hexadecimal digit, or -1.
int HexDigit(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// The maintenance command a command-file word names.
int cupsCareCommand(const char *name)
{
  for (int i = 0; i < (int)(sizeof(kJobs) / sizeof(kJobs[0])); i++)
    if (name && strcmp(name, kJobs[i].word) == 0) return i;
  return -1;
}

// Whether the family's printers take remote-mode maintenance commands.
int cupsCareSupported(int family)
{
  const CareFamily *row = FindFamily(family);
  return row && row->remote_mode;
}

// Build the bytes of one whole maintenance job for a printer family.
size_t cupsCareJob(int family, care_command_t command, unsigned char *job)
{
  if (!cupsCareSupported(family) || command < CARE_CLEAN || command > CARE_REPORT_LEVELS) return 0;
  const CareJob &what = kJobs[command];
  unsigned char *out = job;
  if (family < 5000) out = Put(out, kExitPacketMode, kExitPacketModeLength);
  out = Put(out, kReset, sizeof(kReset));
  out = Put(out, kEnterRemoteMode, sizeof(kEnterRemoteMode));
  for (int i = 0; i < what.count; i++) out = PutRemote(out, what.commands[i]);
  out = Put(out, kLeaveRemoteMode, sizeof(kLeaveRemoteMode));
  // The nozzle check is printed on a page that stays in the printer until
  // it is ejected.
  if (what.ejects_page) *out++ = kFormFeed;
  return (size_t)(out - job);
}

// Read the printer's "IQ:" answer into per-ink percentages.
int cupsCareParseLevels(const char *answer, size_t length, int *levels)
{
  if (!answer) return -1;
  // The answer may follow other status the printer sent first.
  const char *start = nullptr;
  for (size_t i = 0; i + 3 <= length; i++)
    if (memcmp(answer + i, "IQ:", 3) == 0) {
      start = answer + i + 3;
      break;
    }
  if (!start) return -1;
  const char *end = answer + length;
  int count = 0;
  while (start < end && *start != ';') {
    if (end - start < 2 || count == CARE_INKS_MAX) return -1;
    int high = HexDigit(start[0]), low = HexDigit(start[1]);
    if (high < 0 || low < 0) return -1;
    int value = high * 16 + low;
    levels[count++] = value > 100 ? -1 : value;
    start += 2;
  }
  if (start == end || count == 0) return -1;
  return count;
}

// The names and colours of a printer's inks, by how many it answered.
const care_ink_t *cupsCareInks(int count)
{
  switch (count) {
  case 3: return kThreeInks;
  case 4:
  case 6:
  case 7:
    // The four-, six- and seven-ink printers list their inks in the same
    // order, each set extending the one before.
    return kSevenInks;
  default: return nullptr;
  }
}

// How many inks a family's printers carry.
int cupsCareFamilyInks(int family)
{
  const CareFamily *row = FindFamily(family);
  return row ? row->inks : 0;
}
