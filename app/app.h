// inkbands-printer-app: an IPP Everywhere printer in front of an ESC/P2 inkjet.
//
// What a printer model offers is read from its PPD once, at start-up, into a
// Model record; every page is printed by the inkbands filter itself, started
// as a child for each job, so the printer gets the very bytes a CUPS queue
// would send it.
#ifndef INKBANDS_APP_H
#define INKBANDS_APP_H

#include <pappl/pappl.h>

#include <string>
#include <vector>

// A PPD choice and the IPP keyword that clients choose it by.
struct ModelChoice
{
  std::string ppd;  // the PPD's choice name ("Glossy", "Roll")
  std::string ipp;  // the IPP keyword ("photographic-glossy", "main-roll")
};

// One resolution of the model and the PPD choice that asks the filter for it.
struct ModelResolution
{
  int x, y;         // dots per inch
  std::string ppd;  // "1440x720dpi"
};

// What one printer model prints on, read from its PPD.
struct Model
{
  std::string driver;       // driver name: the PPD's file name without ".ppd"
  std::string ppd_path;     // the PPD the filter is run with
  std::string description;  // the PPD's NickName
  std::string device_id;    // the PPD's IEEE-1284 device ID, empty when it has none
  int family = 0;           // *cupsModelNumber
  std::vector<ModelResolution> resolutions;  // lowest first, at most four
  int default_resolution = 0;                // index into resolutions
  std::vector<std::string> media;            // PWG size names, custom range last
  std::string media_default;                 // PWG name of the PPD's default size
  int left_right = 0, bottom_top = 0;        // margins in 1/100 mm
  std::vector<ModelChoice> types;            // media types
  std::string type_default;                  // IPP keyword of the default type
  std::vector<ModelChoice> sources;          // trays and rolls
  std::string source_default;                // IPP keyword of the default source
  bool photo = false;                        // has light inks (ColorModel Photo)
  bool variable_dots = false;                // prints 2-bit dots (Compression VariableDots)
  bool variable_default = false;             // and does so by default
  bool cutter = false;                       // cuts roll paper (CutMedia)
  bool roll = false;                         // takes roll paper
};

// The PPD settings of one job, chosen from the IPP job's options.
struct JobSettings
{
  std::string color_model;  // Gray, CMYK or Photo
  std::string resolution;   // the Resolution choice
  std::string media_type;   // the MediaType choice
  std::string input_slot;   // the InputSlot choice, empty for the PPD's default
  std::string compression;  // PackBits or VariableDots
  std::string weave;        // Driver or Printer
  bool cut = false;         // CutMedia
};

// The vendor options that carry the PPD's weave, dot and cutter choices.
extern const char *const kWeaveOption;  // "inkbands-weave": driver, printer
extern const char *const kDotsOption;   // "inkbands-dot-size": single, variable
extern const char *const kCutOption;    // "inkbands-cut-media": none, after-each-page

// models.cpp
bool ReadModel(const std::string &path, Model *model);
std::vector<Model> ReadModels(const std::string &dir);
const Model *FindModel(const std::vector<Model> &models, const char *driver);
const char *MatchDeviceID(const std::vector<Model> &models, const char *device_id);
void FillDriverData(const Model &model, pappl_pr_driver_data_t *data, ipp_t **attrs);

// separate.cpp
JobSettings ChooseSettings(const Model &model, const pappl_pr_options_t *options);
bool MakePageHeader(const Model &model, const JobSettings &settings,
                    const cups_page_header2_t &page, cups_page_header2_t *header);
void SeparateLine(const cups_page_header2_t &in, const unsigned char *line,
                  const cups_page_header2_t &out, unsigned char *planes);

// print.cpp
void SetFilterPath(const std::string &path);
bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
               unsigned page);
bool WriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
               const unsigned char *line);
bool EndPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool EndJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool PrintPdf(pappl_job_t *job, pappl_device_t *device, void *data);
const Model *JobModel(pappl_job_t *job);

// care.cpp
void AddCarePages(pappl_printer_t *printer, void *data);
const char *PrintTestPage(pappl_printer_t *printer, char *buffer, size_t size);
bool UpdateStatus(pappl_printer_t *printer);
const char *DetectCareFile(const unsigned char *header, size_t size, void *data);
bool PrintCareFile(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
void RemoveCarePages(pappl_printer_t *printer, pappl_pr_driver_data_t *data);
extern const char *const kCareFormat;

#endif
