// Fuzz target for the whole filter: the input becomes a PPD and a raster job
// (see fuzz_job.h), the filter prints it in this process, and the outcome
// is checked the way the printing system would see it:
//   - the job either succeeds (status 0, no "ERROR: " line) or fails with
//     status 1 and exactly one "ERROR: " line: never a crash or a hang;
//   - a stream that ends inside a page's pixel data never succeeds, nor
//     does a job whose printer takes no data;
//   - a job that succeeds printed every page the stream holds;
//   - nothing of a page survives the job: no band, buffer, dither state,
//     lookup table or file descriptor.
// Memory errors, leaks and undefined behaviour are the sanitizers' part.
#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_job.h"
#include "inkbands.h"

int inkbands_main(int argc, char *argv[]);

namespace {

int ppd_fd = -1, raster_fd = -1;
char ppd_path[64], raster_path[64];

[[noreturn]] void Finding(const char *what, const std::string &log)
{
  fprintf(stderr, "fuzz_filter: %s\n--- filter messages (last 2000 bytes) ---\n%s\n", what,
          log.substr(log.size() > 2000 ? log.size() - 2000 : 0).c_str());
  abort();
}

void Store(int fd, const std::string &bytes)
{
  if (ftruncate(fd, 0) != 0 || pwrite(fd, bytes.data(), bytes.size(), 0) != (ssize_t)bytes.size())
    abort();
  lseek(fd, 0, SEEK_SET);
}

// The filter's messages, kept in memory. (An open_memstream cannot be made
// unbuffered, which the filter does to its standard error.)
ssize_t AppendLog(void *cookie, const char *bytes, size_t size)
{
  ((std::string *)cookie)->append(bytes, size);
  return (ssize_t)size;
}

// Lowest free file descriptor: a job that leaves one open moves it.
int LowestFreeFd()
{
  int fd = dup(2);
  close(fd);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  ppd_fd = memfd_create("fuzz.ppd", 0);
  raster_fd = memfd_create("fuzz.ras", 0);
  if (ppd_fd < 0 || raster_fd < 0) abort();
  snprintf(ppd_path, sizeof(ppd_path), "/proc/self/fd/%d", ppd_fd);
  snprintf(raster_path, sizeof(raster_path), "/proc/self/fd/%d", raster_fd);
  // Printer data goes nowhere; sanitizer reports keep the real standard
  // error (descriptor 2), the filter's messages go to memory.
  if (!freopen("/dev/null", "w", stdout)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  fuzzjob::JobSpec job = fuzzjob::Decode(data, size);
  fuzzjob::Raster raster = fuzzjob::WriteRaster(job);
  Store(ppd_fd, fuzzjob::PpdText(job));
  Store(raster_fd, raster.bytes);
  if (const char *save = getenv("INKBANDS_FUZZ_SAVE")) {
    // Keep the job as files, to run the filter binary on it by hand.
    for (auto [suffix, text] : {std::pair<const char *, std::string>{".ppd", fuzzjob::PpdText(job)},
                                {".ras", raster.bytes}}) {
      FILE *fp = fopen((std::string(save) + suffix).c_str(), "wb");
      if (fp) fwrite(text.data(), 1, text.size(), fp), fclose(fp);
    }
  }

  unsigned ppd_mode = (job.flags >> 5) & 3;
  if (ppd_mode == 3)
    unsetenv("PPD");
  else
    setenv("PPD", ppd_path, 1);

  char *argv[] = {(char *)"inkbands", (char *)"1", (char *)"fuzz", (char *)"title",
                  (char *)"1",        (char *)"",  raster_path,    nullptr};
  int argc = (job.flags & 4) ? 6 : 7;
  if (job.flags & 128) argc = 5;
  int free_fd = LowestFreeFd();
  int saved_stdin = -1;
  if (argc == 6) {
    saved_stdin = dup(0);
    dup2(raster_fd, 0);
  }

  // A fresh process starts with these; one job must not inherit them from
  // the job before.
  DotSize = 0;
  srandom(1);

  FILE *real_stdout = stdout, *real_stderr = stderr;
  FILE *printer = nullptr;
  if (job.flags & 8) {
    printer = fopen("/dev/full", "w");
    stdout = printer;
  }
  std::string log;
  stderr = fopencookie(&log, "w", cookie_io_functions_t{nullptr, AppendLog, nullptr, nullptr});

  int status = inkbands_main(argc, argv);

  fclose(stderr);
  stderr = real_stderr;
  if (printer) fclose(printer);
  stdout = real_stdout;
  fflush(stdout);
  clearerr(stdout);
  if (saved_stdin >= 0) {
    dup2(saved_stdin, 0);
    close(saved_stdin);
  }

  int errors = 0, pages = 0;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    if (!log.compare(at, 7, "ERROR: ")) errors++;
    if (!log.compare(at, 6, "PAGE: ")) pages++;
    at = end + 1;
  }

  if (status != 0 && status != 1) Finding("exit status other than 0 or 1", log);
  if (status == 1 && errors != 1) Finding("a failed job must say why in one ERROR line", log);
  if (status == 0 && errors != 0) Finding("a job that succeeds reported an ERROR", log);
  // Every job that gets as far as printing writes at least its end commands.
  if (status == 0 && (job.flags & 8))
    Finding("the printer took no data, yet the job succeeded", log);
  if (status == 0 && raster.cut_in_page)
    Finding("the stream ends inside a page's pixel data, yet the job succeeded", log);
  if (status == 0) {
    // Every page whose header the stream holds in full must be printed.
    int whole = 0;
    for (const fuzzjob::PageExtent &e : raster.pages)
      if (e.header_end <= raster.bytes.size()) whole++;
    if (pages != whole) Finding("a job that succeeds left pages of the stream unprinted", log);
  }

  for (int s = 0; s < kBandSlots; s++)
    for (int p = 0; p < kMaxPlanes; p++)
      if (DotBands[s][p]) Finding("a band is still placed after the job", log);
  if (DotAvailList || DotUsedList || DotBuffers[0] || PixelBuffers[0] || DitherState || DitherLut ||
      CompBuffer)
    Finding("a page buffer is still held after the job", log);
  if (LowestFreeFd() != free_fd) Finding("the job left a file descriptor open", log);
  return 0;
}
