// Whole-job benchmark: the filter prints A4 pages at 1440 x 720 dpi for
// family 7 (ESC i); each case reports seconds per page (median of several
// runs, wall clock, and the filter's own processor time, which other work
// on the machine disturbs less), raster megabytes per second and the peak
// resident memory of the filter, next to the floor: the same stream read
// through libcups and thrown away.
//
//   inkbands-jobbench --filter PATH --floor PATH --dir DIR [--runs N]
//                     [--cases NAME,NAME,...]
//
// The raster files are written to DIR once and kept for later runs.
#include "pages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A4 at 1440 x 720 dpi.
const unsigned kWidth = 11900, kHeight = 8420;

struct Case
{
  const char *name;
  const char *what;
  cups_cspace_t space;
  unsigned bits, row_count, row_step, compression, pages;
};

const Case kCases[] = {
    {"kcmycm-woven", "six inks, woven 96/8", CUPS_CSPACE_KCMYcm, 8, 96, 8, 1, 1},
    {"kcmycm-woven-x2", "six inks, woven 96/208 (2 columns)", CUPS_CSPACE_KCMYcm, 8, 96, 208, 1, 1},
    {"kcmycm-unwoven", "six inks, unwoven", CUPS_CSPACE_KCMYcm, 8, 0, 0, 1, 1},
    {"kcmycm-2bit", "six inks, woven, 2-bit dots", CUPS_CSPACE_KCMYcm, 8, 96, 8, 2, 1},
    {"kcmy-woven", "four inks, woven 96/8", CUPS_CSPACE_KCMY, 8, 96, 8, 1, 1},
    {"k-woven", "one ink, woven 96/8", CUPS_CSPACE_K, 8, 96, 8, 1, 1},
    {"k-woven-3pages", "one ink, woven, 3 pages", CUPS_CSPACE_K, 8, 96, 8, 1, 3},
    {"dots-kcmy-woven", "1-bit four inks, woven 96/8", CUPS_CSPACE_KCMY, 1, 96, 8, 1, 1},
    {"dots-kcmy-unwoven", "1-bit four inks, unwoven", CUPS_CSPACE_KCMY, 1, 0, 0, 1, 1},
};

bool Exists(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The job file of a case, written once; a marker file says it is whole.
std::string JobFile(const std::string &dir, const Case &c)
{
  std::string path = dir + "/" + c.name + ".ras", done = path + ".done";
  if (Exists(done)) return path;
  fprintf(stderr, "writing %s...\n", path.c_str());
  std::vector<pages::PagePlan> job;
  for (unsigned p = 0; p < c.pages; p++) {
    pages::PagePlan plan;
    plan.header = pages::Header(7, kWidth, kHeight, c.space, c.bits, 1440, 720, c.row_count,
                                c.row_step, c.compression, "Glossy");
    plan.header.PageSize[0] = 595;
    plan.header.PageSize[1] = 842;
    plan.content = c.bits == 1 ? pages::Content::kDots : pages::Content::kPhoto;
    plan.seed = 1000 + p;
    plan.lines = kHeight;
    job.push_back(plan);
  }
  if (!pages::WriteJob(path, job)) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    exit(1);
  }
  FILE *f = fopen(done.c_str(), "w");
  if (f) fclose(f);
  return path;
}

struct Run
{
  double seconds;      // wall clock
  double cpu_seconds;  // user and system time of the child
  long maxrss_kib;
  int status;
};

// Runs one child with standard output and error thrown away.
Run RunChild(const std::vector<std::string> &args, const std::string &ppd)
{
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (!ppd.empty()) setenv("PPD", ppd.c_str(), 1);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage;
  memset(&usage, 0, sizeof(usage));
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
  clock_gettime(CLOCK_MONOTONIC, &end);
  Run run;
  run.seconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
  run.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                    usage.ru_stime.tv_usec / 1e6;
  run.maxrss_kib = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Median times and highest peak memory of several runs.
Run Measure(const std::vector<std::string> &args, const std::string &ppd, int runs)
{
  std::vector<double> times, cpu;
  Run worst = {0, 0, 0, 0};
  for (int i = 0; i < runs; i++) {
    Run r = RunChild(args, ppd);
    if (r.status != 0) {
      fprintf(stderr, "%s exited with status %d\n", args[0].c_str(), r.status);
      exit(1);
    }
    times.push_back(r.seconds);
    cpu.push_back(r.cpu_seconds);
    worst.maxrss_kib = std::max(worst.maxrss_kib, r.maxrss_kib);
  }
  std::sort(times.begin(), times.end());
  std::sort(cpu.begin(), cpu.end());
  worst.seconds = times[times.size() / 2];
  worst.cpu_seconds = cpu[cpu.size() / 2];
  return worst;
}

}  // namespace

int main(int argc, char *argv[])
{
  std::string filter, floor_tool, dir, only;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    if (key == "--filter")
      filter = value;
    else if (key == "--floor")
      floor_tool = value;
    else if (key == "--dir")
      dir = value;
    else if (key == "--runs")
      runs = std::max(1, atoi(value.c_str()));
    else if (key == "--cases")
      only = "," + value + ",";
    else {
      fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  if (filter.empty() || floor_tool.empty() || dir.empty()) {
    fputs("usage: inkbands-jobbench --filter PATH --floor PATH --dir DIR "
          "[--runs N] [--cases NAME,...]\n",
          stderr);
    return 2;
  }
  mkdir(dir.c_str(), 0755);
  std::string ppd = dir + "/fam7.ppd";
  if (!pages::WritePpdFile(7, ppd)) return 1;

  printf("A4 at 1440 x 720 dpi (%u x %u pixels), family 7, median of %d runs\n", kWidth, kHeight,
         runs);
  printf("%-18s %-34s %7s %7s %7s %7s %7s %7s %8s %9s\n", "case", "page", "MB/page", "floor s",
         "s/page", "x floor", "cpu s", "MB/s", "peak MiB", "floor MiB");
  fflush(stdout);
  for (const Case &c : kCases) {
    if (!only.empty() && only.find("," + std::string(c.name) + ",") == std::string::npos) continue;
    std::string job = JobFile(dir, c);
    struct stat st;
    stat(job.c_str(), &st);
    double mb = st.st_size / 1e6 / c.pages;
    Run floor = Measure({floor_tool, job}, "", runs);
    Run run = Measure({filter, "1", "bench", "bench", "1", "", job}, ppd, runs);
    double per_page = run.seconds / c.pages;
    printf("%-18s %-34s %7.1f %7.3f %7.3f %7.2f %7.3f %7.1f %8.1f %9.1f\n", c.name, c.what, mb,
           floor.seconds / c.pages, per_page, run.seconds / floor.seconds,
           run.cpu_seconds / c.pages, mb / per_page, run.maxrss_kib / 1024.0,
           floor.maxrss_kib / 1024.0);
    fflush(stdout);
  }
  return 0;
}
