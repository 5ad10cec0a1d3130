// inkbands-printer-app: PAPPL's main loop with one driver per printer model.
//
// Where things are, set by the environment so every sub-command agrees:
//   INKBANDS_PPD_DIR   the PPDs, one per model (default: the installed ones)
//   INKBANDS_FILTER    the inkbands filter (default: the installed one)
// and, for the server, by its -o options: state-directory, server-port,
// listen-hostname (default localhost; "*" for every address), log-file,
// log-level.
#include "app.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::vector<Model> Models;
std::vector<pappl_pr_driver_t> Drivers;
std::string StateFile;
bool Serving = false;  // the sub-command is "server"; the others only read the drivers

// Names the default place of the server's state: systemd's state directory,
// the system's when run as root, else the user's.
std::string DefaultStateDirectory()
{
  if (const char *dir = getenv("STATE_DIRECTORY")) return dir;
  if (getuid() == 0) return "/var/lib/inkbands-printer-app";
  const char *home = getenv("HOME");
  return std::string(home ? home : "/tmp") + "/.local/state/inkbands-printer-app";
}

// Picks the driver for a printer found on USB or the network by its device ID.
const char *AutoAdd(const char *, const char *, const char *device_id, void *)
{
  return MatchDeviceID(Models, device_id);
}

// Gives a new printer its model's capabilities and printing callbacks.
bool DriverCallback(pappl_system_t *, const char *driver_name, const char *, const char *,
                    pappl_pr_driver_data_t *data, ipp_t **attrs, void *)
{
  const Model *model = FindModel(Models, driver_name);
  if (!model) return false;
  FillDriverData(*model, data, attrs);
  return true;
}

// Saves the printers and their settings whenever PAPPL says they changed.
bool SaveState(pappl_system_t *system, void *)
{
  return papplSystemSaveState(system, StateFile.c_str());
}

// Creates the printing system: its listeners, drivers, PDF and care formats,
// and the printers it had when it last stopped.
pappl_system_t *MakeSystem(int num_options, cups_option_t *options, void *)
{
  // PAPPL asks other sub-commands, such as "drivers", for a system too: they
  // get the drivers without listening, state or log.
  if (!Serving) {
    pappl_system_t *system =
        papplSystemCreate(PAPPL_SOPTIONS_MULTI_QUEUE, "inkbands", 0, nullptr, papplGetTempDir(),
                          "/dev/null", PAPPL_LOGLEVEL_FATAL, nullptr, false);
    if (system)
      papplSystemSetPrinterDrivers(system, (int)Drivers.size(), Drivers.data(), AutoAdd, nullptr,
                                   DriverCallback, nullptr);
    return system;
  }
  const char *value;
  std::string state = DefaultStateDirectory();
  if ((value = cupsGetOption("state-directory", num_options, options))) state = value;
  mkdir(state.c_str(), 0700);
  std::string spool = state + "/spool";
  mkdir(spool.c_str(), 0700);
  StateFile = state + "/state.conf";

  int port = 8631;
  if ((value = cupsGetOption("server-port", num_options, options))) port = atoi(value);
  std::string listen = "localhost";
  if ((value = cupsGetOption("listen-hostname", num_options, options))) listen = value;
  const char *logfile = cupsGetOption("log-file", num_options, options);
  pappl_loglevel_t level = PAPPL_LOGLEVEL_INFO;
  if ((value = cupsGetOption("log-level", num_options, options))) {
    static const char *const kLevels[] = {"debug", "info", "warn", "error", "fatal"};
    for (int i = 0; i < 5; i++)
      if (!strcmp(value, kLevels[i])) level = (pappl_loglevel_t)i;
  }

  pappl_system_t *system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG,
      "inkbands", port, "_print,_universal", spool.c_str(), logfile ? logfile : "-", level, nullptr,
      false);
  if (!system) return nullptr;
  if (!papplSystemAddListeners(system, listen == "*" ? nullptr : listen.c_str())) {
    papplSystemDelete(system);
    return nullptr;
  }
  papplSystemSetPrinterDrivers(system, (int)Drivers.size(), Drivers.data(), AutoAdd, AddCarePages,
                               DriverCallback, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PrintPdf, nullptr);
  papplSystemSetMIMECallback(system, DetectCareFile, nullptr);
  papplSystemSetFooterHTML(system, "inkbands printer application: ESC/P2 inkjets on IPP.");
  papplSystemLoadState(system, StateFile.c_str());
  papplSystemSetSaveCallback(system, SaveState, nullptr);
  return system;
}

}  // namespace

// Reads the models, then lets PAPPL run the sub-command asked for.
int main(int argc, char *argv[])
{
  // A filter or Ghostscript that ends early must not take the server down.
  signal(SIGPIPE, SIG_IGN);
  Serving = argc > 1 && !strcmp(argv[1], "server");
  const char *dir = getenv("INKBANDS_PPD_DIR");
  Models = ReadModels(dir ? dir : INKBANDS_PPD_DIR);
  if (const char *filter = getenv("INKBANDS_FILTER")) SetFilterPath(filter);
  for (const Model &model : Models)
    Drivers.push_back({model.driver.c_str(), model.description.c_str(),
                       model.device_id.empty() ? nullptr : model.device_id.c_str(), nullptr});
  return papplMainloop(argc, argv, "1.0", nullptr, (int)Drivers.size(), Drivers.data(), AutoAdd,
                       DriverCallback, nullptr, nullptr, MakeSystem, nullptr, nullptr);
}
