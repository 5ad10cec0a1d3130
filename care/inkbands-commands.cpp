// inkbands-commands: CUPS command files to ESC/P2 maintenance jobs.
//
// CUPS runs it for application/vnd.cups-command jobs ("Clean Print Heads",
// "Print Self-Test Page", ink levels). It reads the command file, sends one
// remote-mode maintenance job per command to standard output and, for
// ReportLevels, reads the printer's answer from the back channel and reports
// the ink levels to CUPS as marker attributes.

#include "care.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/sidechannel.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A command file is a few short lines; anything bigger is not one.
const size_t kMaxFileBytes = 64 * 1024;
const size_t kMaxLineBytes = 256;
const char kMagic[] = "#CUPS-COMMAND";
// How long the printer has to answer the ink-level query, and how much of
// its answer is kept. A printer that says nothing must not hold the queue.
const double kAnswerSeconds = 4.0;
const size_t kAnswerBytes = 1024;
const int kBackChannel = 3;
// The backend may first look the printer up and connect to it; the answer
// is waited for once the query has reached the printer, or after this long.
const double kDeliverySeconds = 30.0;
const int kSideChannel = 4;

// The words of a command file, one command a line.
struct CommandLine
{
  int number;
  std::string word;
};

// Read the whole command file, refusing one that cannot be a command file,
// before anything is sent to the printer.
bool ReadCommands(int fd, std::vector<CommandLine> &commands)
{
  std::string text;
  char block[4096];
  ssize_t got;
  while ((got = read(fd, block, sizeof(block))) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "ERROR: Unable to read the command file - %s\n", strerror(errno));
      return false;
    }
    text.append(block, (size_t)got);
    if (text.size() > kMaxFileBytes) {
      fprintf(stderr, "ERROR: This is not a CUPS command file (larger than %zu KiB).\n",
              kMaxFileBytes / 1024);
      return false;
    }
  }

  size_t start = 0;
  for (int number = 1; start < text.size(); number++) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLineBytes) {
      fprintf(stderr,
              "ERROR: This is not a CUPS command file (line %d is longer than %zu "
              "characters).\n",
              number, kMaxLineBytes);
      return false;
    }
    for (unsigned char c : line)
      if ((c < 0x20 && c != '\t') || c == 0x7F) {
        fprintf(stderr, "ERROR: This is not a CUPS command file (binary data on line %d).\n",
                number);
        return false;
      }
    size_t first = line.find_first_not_of(" \t");
    if (number == 1) {
      size_t magic = sizeof(kMagic) - 1;
      if (line.compare(0, magic, kMagic) != 0 ||
          (line.size() > magic && line[magic] != ' ' && line[magic] != '\t')) {
        fputs("ERROR: This is not a CUPS command file (it does not start with "
              "#CUPS-COMMAND).\n",
              stderr);
        return false;
      }
      continue;
    }
    if (first == std::string::npos || line[first] == '#') continue;
    size_t last = line.find_first_of(" \t", first);
    commands.push_back(
        {number, line.substr(first, last == std::string::npos ? last : last - first)});
  }
  if (text.empty()) {
    fputs("ERROR: This is not a CUPS command file (it is empty).\n", stderr);
    return false;
  }
  return true;
}

// Send one maintenance job to the printer; false when the connection is gone.
bool SendJob(const unsigned char *job, size_t length)
{
  if (fwrite(job, 1, length, stdout) != length || fflush(stdout) != 0) {
    fprintf(stderr, "ERROR: Unable to send the command to the printer - %s\n",
            strerror(errno ? errno : EIO));
    return false;
  }
  return true;
}

// Seconds on a clock that only moves forward.
double Now()
{
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// Wait until the backend has handed everything sent so far to the printer,
// so that the time allowed for the answer starts when the question arrives.
void WaitForDelivery()
{
  // Outside CUPS (or with a backend of no side channel) there is no one to ask.
  if (fcntl(kSideChannel, F_GETFD) < 0) return;
  char data[1];
  int length = 0;
  cups_sc_status_t status =
      cupsSideChannelDoRequest(CUPS_SC_CMD_DRAIN_OUTPUT, data, &length, kDeliverySeconds);
  if (status != CUPS_SC_STATUS_OK)
    fprintf(stderr, "DEBUG: The backend did not confirm delivery of the query (status %d).\n",
            (int)status);
}

// Wait for the printer's ink-level answer on the back channel; the levels
// and their count, 0 when what came is no complete answer, -1 when nothing
// came in time.
int ReadLevels(int *levels)
{
  // CUPS gives filters the back channel as descriptor 3. libcups waits on
  // a closed descriptor for ever, so a run without one (by hand, or a
  // backend without a back channel) has no answer to wait for.
  if (fcntl(kBackChannel, F_GETFD) < 0) {
    fputs("DEBUG: No back channel from the printer.\n", stderr);
    return -1;
  }
  char answer[kAnswerBytes];
  size_t length = 0;
  double deadline = Now() + kAnswerSeconds;
  for (;;) {
    double left = deadline - Now();
    if (left <= 0 || length == sizeof(answer)) break;
    // libcups goes on to a blocking read when its own wait times out, so
    // the wait is ours and libcups reads only what is already there.
    pollfd channel = {kBackChannel, POLLIN, 0};
    int ready = poll(&channel, 1, (int)(left * 1000) + 1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    ssize_t got = cupsBackChannelRead(answer + length, sizeof(answer) - length, 0.0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    length += (size_t)got;
    int count = cupsCareParseLevels(answer, length, levels);
    if (count > 0) return count;
  }
  if (length == 0) return -1;
  fprintf(stderr, "DEBUG: The printer answered %zu bytes without a complete IQ answer.\n", length);
  return 0;
}

// Append a comma-separated list to an ATTR line; CUPS reads a list with
// spaces in it (the light inks' names) only when the whole list is quoted.
void AppendValues(std::string &line, const char *name, const std::vector<std::string> &values)
{
  std::string list;
  for (size_t i = 0; i < values.size(); i++) list += (i ? "," : "") + values[i];
  bool quote = list.find(' ') != std::string::npos;
  line += std::string(" ") + name + "=" + (quote ? "\"" + list + "\"" : list);
}

// Tell CUPS the printer's inks and their levels; when the answer gave none
// the family's inks are reported at -1 (unknown) and `why` says why.
void ReportMarkers(int family, int count, const int *levels, const char *why)
{
  static const int unknown[CARE_INKS_MAX] = {-1, -1, -1, -1, -1, -1, -1, -1};
  const care_ink_t *inks = count > 0 ? cupsCareInks(count) : nullptr;
  if (inks)
    fputs("INFO: Ink levels reported.\n", stderr);
  else {
    fprintf(stderr, "INFO: %s; ink levels unknown.\n", why);
    count = cupsCareFamilyInks(family);
    inks = cupsCareInks(count);
    levels = unknown;
    if (!inks) return;
  }

  std::vector<std::string> colours, names, types, values;
  for (int i = 0; i < count; i++) {
    colours.push_back(inks[i].colour);
    names.push_back(inks[i].name);
    types.push_back("ink-cartridge");
    values.push_back(std::to_string(levels[i]));
  }
  std::string line = "ATTR:";
  AppendValues(line, "marker-colors", colours);
  AppendValues(line, "marker-names", names);
  AppendValues(line, "marker-types", types);
  AppendValues(line, "marker-levels", values);
  fprintf(stderr, "%s\n", line.c_str());
}

// What the printer shows while each command runs.
const char *const kProgress[] = {
    "INFO: Cleaning the print heads...\n",
    "INFO: Printing the nozzle check...\n",
    "INFO: Asking the printer for its ink levels...\n",
};

}  // namespace

// Carry out every command of a CUPS command file on the printer the PPD names.
int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (argc != 6 && argc != 7) {
    fputs("ERROR: inkbands-commands job-id user title copies options [file]\n", stderr);
    return 1;
  }

  const char *ppdname = getenv("PPD");
  if (!ppdname || !*ppdname) {
    fputs("ERROR: No PPD file specified (set the PPD environment variable).\n", stderr);
    return 1;
  }
  ppd_file_t *ppd = ppdOpenFile(ppdname);
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s on line %d.\n", ppdname,
            ppdErrorString(status), line);
    return 1;
  }
  int family = ppd->model_number;
  ppdClose(ppd);

  int fd = 0;
  if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0) {
    fprintf(stderr, "ERROR: Unable to open command file - %s\n", strerror(errno));
    return 1;
  }
  std::vector<CommandLine> commands;
  bool readable = ReadCommands(fd, commands);
  if (fd != 0) close(fd);
  if (!readable) return 1;

  int status = 0;
  for (const CommandLine &command : commands) {
    int which = cupsCareCommand(command.word.c_str());
    if (which < 0) {
      fprintf(stderr, "DEBUG: Line %d: unknown command \"%s\" skipped.\n", command.number,
              command.word.c_str());
      continue;
    }
    unsigned char job[CARE_JOB_MAX];
    size_t length = cupsCareJob(family, (care_command_t)which, job);
    if (length == 0) {
      // Families 1 to 3 take no remote mode: their printers would print the
      // command letters as text.
      if (which == CARE_REPORT_LEVELS)
        ReportMarkers(family, 0, nullptr, "This printer does not report ink levels");
      else {
        fprintf(stderr,
                "ERROR: Printers of family %d take no %s command from the computer; "
                "use the printer's own buttons.\n",
                family, command.word.c_str());
        status = 1;
      }
      continue;
    }
    fputs(kProgress[which], stderr);
    if (!SendJob(job, length)) return 1;
    if (which == CARE_REPORT_LEVELS) {
      WaitForDelivery();
      int levels[CARE_INKS_MAX];
      int count = ReadLevels(levels);
      ReportMarkers(family, count, levels,
                    count < 0 ? "The printer did not answer the ink-level query"
                              : "The printer's ink-level answer was not understood");
    }
  }
  return status;
}
