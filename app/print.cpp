// Printing a job: the inkbands filter runs as a child for each job, gets the
// pages as CUPS raster on its standard input, and what it writes on its
// standard output goes to the printer unchanged.
#include "app.h"

#include <cups/raster.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>

extern char **environ;

namespace {

std::string FilterPath = INKBANDS_FILTER;

// One job's filter: the child, its raster input, and the threads that take
// its printer stream to the device and its messages to the job's log.
struct FilterRun
{
  const Model *model = nullptr;
  JobSettings settings;
  pid_t pid = -1;
  int input = -1;
  cups_raster_t *raster = nullptr;
  std::thread output, messages;
  cups_page_header2_t header;       // the page as the filter gets it
  std::vector<unsigned char> line;  // one line of ink planes
  bool device_failed = false;
};

// The job's filter, null before it starts and after it ends.
FilterRun *JobRun(pappl_job_t *job)
{
  return static_cast<FilterRun *>(papplJobGetData(job));
}

// Starts a program with its standard streams on the given descriptors (-1: /dev/null).
pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env, int in,
            int out, int err)
{
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int fds[3] = {in, out, err};
  for (int i = 0; i < 3; i++) {
    if (fds[i] >= 0)
      posix_spawn_file_actions_adddup2(&actions, fds[i], i);
    else
      posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i ? O_WRONLY : O_RDONLY, 0);
  }
  std::vector<char *> argv, envp;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  for (char **e = environ; *e; e++)
    if (strncmp(*e, "PPD=", 4)) envp.push_back(*e);
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for a child; true when it ended with exit status 0.
bool Reap(pid_t pid)
{
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Copies the filter's printer stream to the device as it comes.
void CopyToDevice(int fd, pappl_device_t *device, bool *failed)
{
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR))
    if (n > 0 && !*failed && papplDeviceWrite(device, buffer, (size_t)n) < 0) *failed = true;
  close(fd);
}

// Logs the filter's messages with the job: errors as errors, the rest as debug.
void LogMessages(int fd, pappl_job_t *job)
{
  FILE *in = fdopen(fd, "r");
  char text[2048];
  while (in && fgets(text, sizeof(text), in)) {
    text[strcspn(text, "\n")] = '\0';
    bool error = !strncmp(text, "ERROR:", 6);
    papplLogJob(job, error ? PAPPL_LOGLEVEL_ERROR : PAPPL_LOGLEVEL_DEBUG, "inkbands: %s", text);
    if (error) papplJobSetMessage(job, "%s", text + 6 + strspn(text + 6, " "));
  }
  if (in)
    fclose(in);
  else
    close(fd);
}

}  // namespace

// Names the filter program the jobs run (the tests use the build's).
void SetFilterPath(const std::string &path)
{
  FilterPath = path;
}

// The model a job's printer was created with.
const Model *JobModel(pappl_job_t *job)
{
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return static_cast<const Model *>(data.extension);
}

// Starts the job's filter with the model's PPD and opens its raster input.
bool StartJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device)
{
  FilterRun *run = new FilterRun;
  papplJobSetData(job, run);
  run->model = JobModel(job);
  int in[2], out[2], err[2];
  if (!run->model || pipe2(in, O_CLOEXEC) < 0) {
    papplJobSetData(job, nullptr);
    delete run;
    return false;
  }
  if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0) {
    close(in[0]);
    close(in[1]);
    papplJobSetData(job, nullptr);
    delete run;
    return false;
  }
  const char *user = papplJobGetUsername(job);
  const char *title = papplJobGetName(job);
  run->pid = Spawn({FilterPath, std::to_string(papplJobGetID(job)), user ? user : "guest",
                    title ? title : "untitled", "1", ""},
                   {"PPD=" + run->model->ppd_path}, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  run->output = std::thread(CopyToDevice, out[0], device, &run->device_failed);
  run->messages = std::thread(LogMessages, err[0], job);
  run->input = in[1];
  if (run->pid > 0) run->raster = cupsRasterOpen(run->input, CUPS_RASTER_WRITE);
  if (run->raster) return true;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start the filter %s.", FilterPath.c_str());
  EndJob(job, nullptr, device);
  return false;
}

// Sends the filter the header of the next page, made for the job's options.
bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned page)
{
  FilterRun *run = JobRun(job);
  if (!run || !run->raster) return false;
  run->settings = ChooseSettings(*run->model, options);
  if (!MakePageHeader(*run->model, run->settings, options->header, &run->header)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u: %ux%u dpi is not a resolution of %s.", page,
                options->header.HWResolution[0], options->header.HWResolution[1],
                run->model->description.c_str());
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO,
              "Page %u: %s, %s, %s, %s weave, cupsCompression %u, %ux%u pixels.", page,
              run->settings.color_model.c_str(), run->settings.resolution.c_str(),
              run->settings.media_type.c_str(), run->settings.weave.c_str(),
              run->header.cupsCompression, run->header.cupsWidth, run->header.cupsHeight);
  run->line.assign(run->header.cupsBytesPerLine, 0);
  return cupsRasterWriteHeader2(run->raster, &run->header) != 0;
}

// Separates one line into inks and sends it to the filter.
bool WriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned,
               const unsigned char *line)
{
  FilterRun *run = JobRun(job);
  if (!run || !run->raster || run->device_failed) return false;
  SeparateLine(options->header, line, run->header, run->line.data());
  return cupsRasterWritePixels(run->raster, run->line.data(), (unsigned)run->line.size()) ==
         run->line.size();
}

// Ends a page: the filter ends it itself when the next header or the end comes.
bool EndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned)
{
  FilterRun *run = JobRun(job);
  return run && !run->device_failed;
}

// Ends the raster input, lets the filter finish the job and waits for it.
bool EndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device)
{
  FilterRun *run = JobRun(job);
  if (!run) return false;
  if (run->raster) cupsRasterClose(run->raster);
  close(run->input);
  bool ok = run->pid > 0 && Reap(run->pid);
  run->output.join();
  run->messages.join();
  papplDeviceFlush(device);
  ok = ok && !run->device_failed;
  papplJobSetData(job, nullptr);
  delete run;
  return ok;
}

// Prints a PDF: Ghostscript renders it in bands as PWG raster into a pipe and
// each line goes through the same path as PAPPL's own raster pages.
bool PrintPdf(pappl_job_t *job, pappl_device_t *device, void *)
{
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 0, true);
  bool grey =
      options->print_color_mode & (PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_AUTO_MONOCHROME);
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) < 0) {
    papplJobDeletePrintOptions(options);
    return false;
  }
  char res[64], width[64], height[64];
  snprintf(res, sizeof(res), "-r%dx%d", options->printer_resolution[0],
           options->printer_resolution[1]);
  snprintf(width, sizeof(width), "-dDEVICEWIDTHPOINTS=%u", options->header.PageSize[0]);
  snprintf(height, sizeof(height), "-dDEVICEHEIGHTPOINTS=%u", options->header.PageSize[1]);
  // MaxBitmap and BufferSpace keep Ghostscript rendering a few megabytes of
  // band at a time, whatever the size of the page.
  pid_t gs = Spawn({"gs",
                    "-q",
                    "-dSAFER",
                    "-dBATCH",
                    "-dNOPAUSE",
                    "-dNOINTERPOLATE",
                    "-sstdout=%stderr",
                    "-sDEVICE=pwgraster",
                    grey ? "-dcupsColorSpace=18" : "-dcupsColorSpace=19",
                    "-dcupsBitsPerColor=8",
                    res,
                    width,
                    height,
                    "-dFIXEDMEDIA",
                    "-dPDFFitPage",
                    "-dMaxBitmap=4000000",
                    "-dBufferSpace=4000000",
                    "-sOutputFile=-",
                    "-f",
                    papplJobGetFilename(job)},
                   {}, -1, pipefd[1], -1);
  close(pipefd[1]);
  bool ok = gs > 0 && StartJob(job, options, device);
  cups_raster_t *in = cupsRasterOpen(pipefd[0], CUPS_RASTER_READ);
  cups_page_header2_t page;
  std::vector<unsigned char> line;
  unsigned count = 0;
  while (ok && in && cupsRasterReadHeader2(in, &page) && !papplJobIsCanceled(job)) {
    count++;
    options->header = page;
    ok = StartPage(job, options, device, count);
    line.assign(page.cupsBytesPerLine, 0);
    for (unsigned y = 0; ok && y < page.cupsHeight; y++)
      ok = cupsRasterReadPixels(in, line.data(), page.cupsBytesPerLine) == page.cupsBytesPerLine &&
           WriteLine(job, options, device, y, line.data());
    ok = EndPage(job, options, device, count) && ok;
    papplJobSetImpressionsCompleted(job, 1);
  }
  if (in) cupsRasterClose(in);
  close(pipefd[0]);
  bool rendered = gs > 0 && Reap(gs);
  if (JobRun(job)) ok = EndJob(job, options, device) && ok;
  if (!rendered || count == 0)
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript could not render the PDF.");
  papplJobDeletePrintOptions(options);
  return ok && rendered && count > 0;
}
