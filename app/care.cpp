// Printer care from IPP: the nozzle check as the test page, a web page that
// cleans the heads, and the ink levels the printer reports.
#include "app.h"
#include "care.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>

const char *const kCareFormat = "application/vnd.inkbands-care";

namespace {

// A care job's document: this line, then the command word.
const char kCareMagic[] = "INKBANDS-CARE ";
const int kAnswerReads = 4;           // reads of the ink-level answer, each up to 10 s
const time_t kAskAgain = 60;          // seconds between ink-level questions
const time_t kAskSilentAgain = 1800;  // and after a question went unanswered

// The ink-level question of each printer: whether it is being asked, and when
// it may be asked again.
struct InkQuery
{
  bool running = false;
  time_t next = 0;
};
std::mutex QueryLock;
std::condition_variable QueryDone;
std::map<pappl_printer_t *, InkQuery> Queries;

// The IPP colours of the care library's ink names.
const struct
{
  const char *name;
  pappl_supply_color_t color;
} kColours[] = {
    {"Black", PAPPL_SUPPLY_COLOR_BLACK},
    {"Cyan", PAPPL_SUPPLY_COLOR_CYAN},
    {"Magenta", PAPPL_SUPPLY_COLOR_MAGENTA},
    {"Yellow", PAPPL_SUPPLY_COLOR_YELLOW},
    {"Light Cyan", PAPPL_SUPPLY_COLOR_LIGHT_CYAN},
    {"Light Magenta", PAPPL_SUPPLY_COLOR_LIGHT_MAGENTA},
    {"Light Black", PAPPL_SUPPLY_COLOR_GRAY},
};

// The care job a printer model takes for one command, empty when it takes none.
std::string CareBytes(const Model &model, care_command_t command)
{
  unsigned char job[CARE_JOB_MAX];
  size_t length = cupsCareJob(model.family, command, job);
  return std::string((const char *)job, length);
}

// Writes a care document for a command into the printer's spool directory,
// where no other user can place a file in its way.
bool WriteCareFile(pappl_printer_t *printer, const char *word, char *path, size_t size)
{
  static std::atomic<unsigned> serial{0};
  std::string name = std::string("care-") + word + "-" + std::to_string(++serial);
  int fd = papplPrinterOpenFile(printer, path, size, nullptr, name.c_str(), "txt", "w");
  FILE *file = fd < 0 ? nullptr : fdopen(fd, "w");
  if (!file) {
    if (fd >= 0) close(fd);
    return false;
  }
  fprintf(file, "%s%s\n", kCareMagic, word);
  return fclose(file) == 0;
}

// Queues a care job on the printer, so that it waits for the job in progress.
bool QueueCareJob(pappl_printer_t *printer, const char *word, const char *title, const char *user)
{
  char path[1024];
  if (!WriteCareFile(printer, word, path, sizeof(path))) return false;
  return papplJobCreateWithFile(printer, user, kCareFormat, title, 0, nullptr, path) != nullptr;
}

// The printer's care web page: buttons that clean the heads and print a nozzle check.
bool CarePage(pappl_client_t *client, void *data)
{
  pappl_printer_t *printer = static_cast<pappl_printer_t *>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  const char *status = nullptr;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    cups_option_t *form = nullptr;
    int count = papplClientGetForm(client, &form);
    const char *action = cupsGetOption("action", count, form);
    const char *user = papplClientGetUsername(client);
    if (!papplClientIsValidForm(client, count, form) || !action)
      status = "Invalid form submission.";
    else if (!strcmp(action, "clean"))
      status = QueueCareJob(printer, "Clean", "Head cleaning", user ? user : "guest")
                   ? "Head cleaning queued."
                   : "Unable to queue the head cleaning.";
    else if (!strcmp(action, "nozzle-check"))
      status = QueueCareJob(printer, "PrintSelfTestPage", "Nozzle check", user ? user : "guest")
                   ? "Nozzle check queued."
                   : "Unable to queue the nozzle check.";
    else
      status = "Unknown action.";
    cupsFreeOptions(count, form);
  }
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  const Model *model = static_cast<const Model *>(driver.extension);
  papplClientHTMLPrinterHeader(client, printer, "Printer Care", 0, nullptr, nullptr);
  if (status) papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", status);
  if (model && cupsCareSupported(model->family)) {
    char path[1024];
    papplPrinterGetPath(printer, "care", path, sizeof(path));
    papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n"
                                "<p>Cleaning uses ink; print a nozzle check first and clean "
                                "only when lines are missing.</p>\n");
    papplClientHTMLStartForm(client, path, false);
    papplClientHTMLPuts(client, "<button type=\"submit\" name=\"action\" value=\"nozzle-check\">"
                                "Print Nozzle Check</button>\n"
                                "<button type=\"submit\" name=\"action\" value=\"clean\">"
                                "Clean Print Heads</button></form>\n</div></div>\n");
  } else
    papplClientHTMLPuts(client, "<p>This printer takes no maintenance commands.</p>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

}  // namespace

// Gives a new printer its care page, linked from the printer's web pages.
void AddCarePages(pappl_printer_t *printer, void *)
{
  char path[1024];
  papplPrinterGetPath(printer, "care", path, sizeof(path));
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", CarePage,
                                 printer);
  papplPrinterAddLink(printer, "Printer Care", path, PAPPL_LOPTIONS_STATUS);
}

// Forgets a deleted printer's care page, once its ink-level question is over.
void RemoveCarePages(pappl_printer_t *printer, pappl_pr_driver_data_t *)
{
  char path[1024];
  papplPrinterGetPath(printer, "care", path, sizeof(path));
  papplSystemRemoveResource(papplPrinterGetSystem(printer), path);
  std::unique_lock<std::mutex> lock(QueryLock);
  QueryDone.wait(lock, [printer] { return !Queries[printer].running; });
  Queries.erase(printer);
}

// The test page is the nozzle check: the printer prints its own pattern.
const char *PrintTestPage(pappl_printer_t *printer, char *buffer, size_t size)
{
  return WriteCareFile(printer, "PrintSelfTestPage", buffer, size) ? buffer : nullptr;
}

// Recognises a care document, for jobs that name no format.
const char *DetectCareFile(const unsigned char *header, size_t size, void *)
{
  size_t magic = sizeof(kCareMagic) - 1;
  return size >= magic && !memcmp(header, kCareMagic, magic) ? kCareFormat : nullptr;
}

// Sends the printer the care job a care document names.
bool PrintCareFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device)
{
  const Model *model = JobModel(job);
  char text[128] = "";
  FILE *file = fopen(papplJobGetFilename(job), "r");
  if (file) {
    if (!fgets(text, sizeof(text), file)) text[0] = '\0';
    fclose(file);
  }
  text[strcspn(text, "\r\n")] = '\0';
  size_t magic = sizeof(kCareMagic) - 1;
  int command = strncmp(text, kCareMagic, magic) ? -1 : cupsCareCommand(text + magic);
  if (!model || command < 0) {
    papplJobSetMessage(job, "Not a printer care document.");
    return false;
  }
  std::string bytes = CareBytes(*model, (care_command_t)command);
  if (bytes.empty()) {
    papplJobSetMessage(job, "This printer takes no maintenance commands.");
    return false;
  }
  return papplDeviceWrite(device, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
}

// Lists the printer's inks with their levels (-1: unknown) as its supplies.
static void SetInks(pappl_printer_t *printer, const care_ink_t *inks, int count, const int *levels)
{
  pappl_supply_t supplies[CARE_INKS_MAX];
  for (int i = 0; i < count && i < CARE_INKS_MAX; i++) {
    supplies[i].color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    for (const auto &c : kColours)
      if (!strcmp(inks[i].name, c.name)) supplies[i].color = c.color;
    snprintf(supplies[i].description, sizeof(supplies[i].description), "%s Ink", inks[i].name);
    supplies[i].is_consumed = true;
    supplies[i].level = levels ? levels[i] : -1;
    supplies[i].type = PAPPL_SUPPLY_TYPE_INK_CARTRIDGE;
  }
  papplPrinterSetSupplies(printer, count, supplies);
}

// Asks the printer for its ink levels and shows what it answers. A device
// read waits up to 10 s for an answer, so this runs beside the server, and
// holds the device only for the question and the answer.
static void QueryInkLevels(pappl_printer_t *printer, const Model *model)
{
  std::string query = CareBytes(*model, CARE_REPORT_LEVELS);
  int levels[CARE_INKS_MAX];
  int count = -1;
  if (pappl_device_t *device = papplPrinterOpenDevice(printer)) {
    std::string answer;
    char buffer[256];
    ssize_t n = papplDeviceWrite(device, query.data(), query.size());
    papplDeviceFlush(device);
    for (int i = 0; n > 0 && i < kAnswerReads && count < 0; i++) {
      if ((n = papplDeviceRead(device, buffer, sizeof(buffer))) > 0)
        answer.append(buffer, (size_t)n);
      count = cupsCareParseLevels(answer.data(), answer.size(), levels);
    }
    papplPrinterCloseDevice(printer);
  }
  if (const care_ink_t *inks = cupsCareInks(count)) SetInks(printer, inks, count, levels);
  std::lock_guard<std::mutex> lock(QueryLock);
  InkQuery &q = Queries[printer];
  q.running = false;
  q.next = time(nullptr) + (count > 0 ? kAskAgain : kAskSilentAgain);
  QueryDone.notify_all();
}

// Keeps the printer's supplies current: its inks at unknown levels until the
// printer answers the ink-level question, which is asked now and then when the
// printer is idle. A printer that does not answer is no error.
bool UpdateStatus(pappl_printer_t *printer)
{
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  const Model *model = static_cast<const Model *>(driver.extension);
  if (!model) return true;
  pappl_supply_t shown[PAPPL_MAX_SUPPLY];
  if (papplPrinterGetSupplies(printer, PAPPL_MAX_SUPPLY, shown) == 0) {
    int count = cupsCareFamilyInks(model->family);
    if (const care_ink_t *inks = cupsCareInks(count)) SetInks(printer, inks, count, nullptr);
  }
  // A file device is a test's output: a question would land in it.
  const char *uri = papplPrinterGetDeviceURI(printer);
  if (!cupsCareSupported(model->family) || !uri || !strncmp(uri, "file:", 5)) return true;
  std::lock_guard<std::mutex> lock(QueryLock);
  InkQuery &q = Queries[printer];
  if (q.running || time(nullptr) < q.next) return true;
  q.running = true;
  std::thread(QueryInkLevels, printer, model).detach();
  return true;
}
