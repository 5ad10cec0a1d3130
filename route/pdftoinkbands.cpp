// pdftoinkbands: Ghostscript's raster device (cups-filters' gstoraster) for
// an inkbands printer, with the colour profile of the job's colour model.
//
// Left to itself, Ghostscript separates RGB into KCMY through a press
// profile that prints black as a rich black of all four inks (K 226, C, M
// and Y near 180) and greys as composite colour: black text comes out dark
// grey.  The PPD names, per colour model, the profile that prints every
// neutral with black ink alone (inkbandsICCProfile); it also stands for the
// page's DeviceCMYK, so colours given in the printer's inks (black text in
// K alone, pure cyan) reach it unchanged, as they do without a profile.
// gstoraster's own
// cupsICCProfile cannot carry it: it picks the profile by the queue's
// defaults, not the job's colour model, and a KCMY profile makes Ghostscript
// refuse a grey page.  So this step looks up the job's colour model, gives
// its profile to Ghostscript (GS_OPTIONS, which Ghostscript reads on start)
// and becomes gstoraster: rendering, bands and memory stay Ghostscript's.
//
// Takes the arguments and input of every CUPS filter; writes CUPS raster.

#include "colour_model.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

// The rasterizer this step hands the job to, in CUPS's filter directory.
static const char kRasterizer[] = "gstoraster";

// Where CUPS keeps its files: the scheduler's setting, else the build's.
static std::string CupsDirectory(const char *variable, const char *built_in)
{
  const char *value = getenv(variable);
  return value && *value ? value : built_in;
}

// The colour profile the PPD names for the job's colour model, as a path;
// "" when it names none.
static std::string JobProfile(const char *option_text)
{
  const char *ppdname = getenv("PPD");
  ppd_file_t *ppd = ppdname && *ppdname ? ppdOpenFile(ppdname) : nullptr;
  if (!ppd) return "";
  std::string model = JobColourModel(ppd, option_text);
  ppd_attr_t *attr = ppdFindAttr(ppd, "inkbandsICCProfile", model.c_str());
  std::string profile = attr && attr->value && *attr->value ? attr->value : "";
  ppdClose(ppd);
  if (!profile.empty() && profile[0] != '/')
    profile = CupsDirectory("CUPS_DATADIR", INKBANDS_CUPS_DATADIR) + "/profiles/" + profile;
  return profile;
}

// Give the job's colour profile to Ghostscript, then run gstoraster in this
// process.
int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);
  if (argc != 6 && argc != 7) {
    fputs("ERROR: pdftoinkbands job-id user title copies options [file]\n", stderr);
    return 1;
  }

  std::string profile = JobProfile(argv[5]);
  if (!profile.empty() && access(profile.c_str(), R_OK) == 0) {
    // A site's own Ghostscript options stay; a profile they name wins.
    const char *site = getenv("GS_OPTIONS");
    std::string options = "-sOutputICCProfile=" + profile + " -sDefaultCMYKProfile=" + profile;
    if (site && *site) options += std::string(" ") + site;
    setenv("GS_OPTIONS", options.c_str(), 1);
    fprintf(stderr, "DEBUG: pdftoinkbands: colour profile %s\n", profile.c_str());
  } else if (!profile.empty())
    fprintf(stderr,
            "WARNING: The colour profile %s is missing; black may print as a dark "
            "grey of all inks.\n",
            profile.c_str());

  std::string rasterizer =
      CupsDirectory("CUPS_SERVERBIN", INKBANDS_CUPS_SERVERBIN) + "/filter/" + kRasterizer;
  argv[0] = const_cast<char *>(kRasterizer);
  execv(rasterizer.c_str(), argv);
  fprintf(stderr, "ERROR: Unable to run the rasterizer %s - %s\n", rasterizer.c_str(),
          strerror(errno));
  return 1;
}
