// The printer models: one driver per PPD, its capabilities read from the PPD.
#include "app.h"

#include <cups/ppd.h>

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

const char *const kWeaveOption = "inkbands-weave";
const char *const kDotsOption = "inkbands-dot-size";
const char *const kCutOption = "inkbands-cut-media";

namespace {

// The IPP names of the PPDs' media types: PWG keywords where one means the
// same paper, our own for the proofing papers PWG has no name for.
const ModelChoice kTypeNames[] = {
    {"Plain", "stationery"},
    {"Special", "stationery-coated"},
    {"Glossy", "photographic-glossy"},
    {"Matte", "photographic-matte"},
    {"Transparency", "transparency"},
    {"Archival", "stationery-archival"},
    {"Watercolor", "stationery-cotton"},
    {"PublProof", "org.inkbands.publication-proof"},
    {"CommProof", "org.inkbands.commercial-proof"},
};

// The IPP names of the paper sources: the sheet feeder is the main tray.
const ModelChoice kSourceNames[] = {
    {"Auto", "main"},
    {"Roll", "main-roll"},
    {"Cassette", "tray-1"},
    {"Manual", "manual"},
};

// The resolutions that print-quality draft, normal and high stand for.
const int kQualityResolutions[][2] = {{360, 360}, {720, 720}, {1440, 720}};

// Converts a length in points to hundredths of a millimetre, as IPP counts.
int Hundredths(float points)
{
  return (int)(points * 2540.0f / 72.0f + 0.5f);
}

// Names a PPD choice for IPP: the table's keyword, else the name in lower case.
std::string IppName(const ModelChoice *table, size_t count, const char *ppd)
{
  for (size_t i = 0; i < count; i++)
    if (table[i].ppd == ppd) return table[i].ipp;
  std::string name = ppd;
  for (char &c : name) c = (char)tolower((unsigned char)c);
  return name;
}

// Reads the resolutions a model prints: draft, normal and high quality are
// 360, 720 and 1440 x 720 dpi where the model has them, and its finest other
// resolution fills the fourth place. PAPPL gives draft the first one and high
// the last, so the others go between.
void ReadResolutions(ppd_file_t *ppd, Model *model)
{
  ppd_option_t *option = ppdFindOption(ppd, "Resolution");
  if (!option) return;
  std::vector<ModelResolution> all;
  for (int i = 0; i < option->num_choices; i++) {
    int x = 0, y = 0;
    const char *name = option->choices[i].choice;
    int n = sscanf(name, "%dx%ddpi", &x, &y);
    if (n == 1) y = x;
    if (n >= 1 && x > 0 && y > 0) all.push_back({x, y, name});
  }
  std::vector<ModelResolution> quality, others;
  for (const auto &q : kQualityResolutions)
    for (const auto &r : all)
      if (r.x == q[0] && r.y == q[1]) quality.push_back(r);
  std::sort(all.begin(), all.end(), [](const ModelResolution &a, const ModelResolution &b) {
    return a.x * a.y > b.x * b.y;
  });
  for (const auto &r : all) {
    bool have = false;
    for (const auto &k : quality) have = have || (k.x == r.x && k.y == r.y);
    if (!have && quality.size() + others.size() < PAPPL_MAX_RESOLUTION) others.push_back(r);
  }
  std::sort(others.begin(), others.end(), [](const ModelResolution &a, const ModelResolution &b) {
    return a.x * a.y < b.x * b.y;
  });
  // Draft first, high last, the rest in between.
  std::vector<ModelResolution> kept;
  if (!quality.empty()) kept.push_back(quality.front());
  kept.insert(kept.end(), others.begin(), others.end());
  if (quality.size() > 1) kept.insert(kept.end(), quality.begin() + 1, quality.end());
  model->resolutions = kept;
  for (size_t i = 0; i < kept.size(); i++)
    if (kept[i].x == 720 && kept[i].y == 720) model->default_resolution = (int)i;
  for (size_t i = 0; i < kept.size(); i++)
    if (kept[i].ppd == option->defchoice) model->default_resolution = (int)i;
}

// Reads the paper sizes as PWG names, with the custom range last.
void ReadMedia(ppd_file_t *ppd, Model *model)
{
  for (int i = 0; i < ppd->num_sizes; i++) {
    const ppd_size_t &size = ppd->sizes[i];
    if (!strcmp(size.name, "Custom")) continue;
    pwg_media_t *pwg = pwgMediaForPPD(size.name);
    if (!pwg) pwg = pwgMediaForSize(Hundredths(size.width), Hundredths(size.length));
    if (!pwg || std::find(model->media.begin(), model->media.end(), pwg->pwg) != model->media.end())
      continue;
    model->media.push_back(pwg->pwg);
    if (size.marked || model->media_default.empty()) model->media_default = pwg->pwg;
  }
  ppd_option_t *option = ppdFindOption(ppd, "PageSize");
  if (option)
    if (pwg_media_t *pwg = pwgMediaForPPD(option->defchoice)) model->media_default = pwg->pwg;
  if (ppd->variable_sizes && model->media.size() + 2 <= PAPPL_MAX_MEDIA) {
    char name[128];
    pwgFormatSizeName(name, sizeof(name), "custom", "min", Hundredths(ppd->custom_min[0]),
                      Hundredths(ppd->custom_min[1]), nullptr);
    model->media.push_back(name);
    pwgFormatSizeName(name, sizeof(name), "custom", "max", Hundredths(ppd->custom_max[0]),
                      Hundredths(ppd->custom_max[1]), nullptr);
    model->media.push_back(name);
  }
  if (model->media.size() > PAPPL_MAX_MEDIA) model->media.resize(PAPPL_MAX_MEDIA);
  // HWMargins: left, bottom, right, top. IPP has one value for each pair.
  model->left_right = Hundredths(std::max(ppd->custom_margins[0], ppd->custom_margins[2]));
  model->bottom_top = Hundredths(std::max(ppd->custom_margins[1], ppd->custom_margins[3]));
}

// Reads the choices of one PPD option as IPP keywords, and its default.
void ReadChoices(ppd_file_t *ppd, const char *keyword, const ModelChoice *table, size_t count,
                 size_t max, std::vector<ModelChoice> *choices, std::string *default_ipp)
{
  ppd_option_t *option = ppdFindOption(ppd, keyword);
  if (!option) return;
  for (int i = 0; i < option->num_choices && choices->size() < max; i++) {
    const char *name = option->choices[i].choice;
    choices->push_back({name, IppName(table, count, name)});
    if (!strcmp(name, option->defchoice) || default_ipp->empty())
      *default_ipp = choices->back().ipp;
  }
}

}  // namespace

// Reads what one printer model offers from its PPD; false when it is not ours.
bool ReadModel(const std::string &path, Model *model)
{
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  if (!ppd) return false;
  ppdMarkDefaults(ppd);
  size_t slash = path.find_last_of('/');
  std::string file = path.substr(slash == std::string::npos ? 0 : slash + 1);
  model->driver = file.substr(0, file.size() - 4);
  model->ppd_path = path;
  model->description = ppd->nickname ? ppd->nickname : model->driver;
  if (ppd_attr_t *id = ppdFindAttr(ppd, "1284DeviceID", nullptr))
    if (id->value) model->device_id = id->value;
  model->family = ppd->model_number;
  ReadResolutions(ppd, model);
  ReadMedia(ppd, model);
  ReadChoices(ppd, "MediaType", kTypeNames, sizeof(kTypeNames) / sizeof(kTypeNames[0]),
              PAPPL_MAX_TYPE, &model->types, &model->type_default);
  ReadChoices(ppd, "InputSlot", kSourceNames, sizeof(kSourceNames) / sizeof(kSourceNames[0]),
              PAPPL_MAX_SOURCE, &model->sources, &model->source_default);
  model->photo = ppdFindChoice(ppdFindOption(ppd, "ColorModel"), "Photo") != nullptr;
  ppd_option_t *compression = ppdFindOption(ppd, "Compression");
  model->variable_dots = ppdFindChoice(compression, "VariableDots") != nullptr;
  model->variable_default = compression && !strcmp(compression->defchoice, "VariableDots");
  model->cutter = ppdFindOption(ppd, "CutMedia") != nullptr;
  for (const ModelChoice &source : model->sources)
    model->roll = model->roll || source.ppd == "Roll";
  bool usable = !model->resolutions.empty() && !model->media.empty();
  ppdClose(ppd);
  return usable;
}

// Reads every PPD of a directory, one model each, in the order of their names.
std::vector<Model> ReadModels(const std::string &dir)
{
  std::vector<std::string> files;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *entry = readdir(d)) {
      size_t len = strlen(entry->d_name);
      if (len > 4 && !strcmp(entry->d_name + len - 4, ".ppd"))
        files.push_back(dir + "/" + entry->d_name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  std::vector<Model> models;
  for (const std::string &file : files) {
    Model model;
    if (ReadModel(file, &model)) models.push_back(model);
  }
  return models;
}

// Finds the model a driver name stands for.
const Model *FindModel(const std::vector<Model> &models, const char *driver)
{
  for (const Model &model : models)
    if (driver && model.driver == driver) return &model;
  return nullptr;
}

// Finds the driver of the model whose device ID names the same maker and model.
const char *MatchDeviceID(const std::vector<Model> &models, const char *device_id)
{
  if (!device_id || !*device_id) return nullptr;
  cups_option_t *pairs = nullptr;
  int count = papplDeviceParseID(device_id, &pairs);
  const char *mfg = cupsGetOption("MFG", count, pairs);
  if (!mfg) mfg = cupsGetOption("MANUFACTURER", count, pairs);
  const char *mdl = cupsGetOption("MDL", count, pairs);
  if (!mdl) mdl = cupsGetOption("MODEL", count, pairs);
  const char *driver = nullptr;
  for (const Model &model : models) {
    if (driver || model.device_id.empty() || !mdl) continue;
    cups_option_t *ours = nullptr;
    int n = papplDeviceParseID(model.device_id.c_str(), &ours);
    const char *our_mfg = cupsGetOption("MFG", n, ours);
    const char *our_mdl = cupsGetOption("MDL", n, ours);
    if (our_mdl && !strcasecmp(our_mdl, mdl) && (!mfg || !our_mfg || !strcasecmp(our_mfg, mfg)))
      driver = model.driver.c_str();
    cupsFreeOptions(n, ours);
  }
  cupsFreeOptions(count, pairs);
  return driver;
}

// Fills in the media record of one size, source and type with the model's margins.
static void FillMedia(const Model &model, const std::string &size, const std::string &source,
                      pappl_media_col_t *media)
{
  memset(media, 0, sizeof(*media));
  pwg_media_t *pwg = pwgMediaForPWG(size.c_str());
  media->size_width = pwg ? pwg->width : 21590;
  media->size_length = pwg ? pwg->length : 27940;
  snprintf(media->size_name, sizeof(media->size_name), "%s", size.c_str());
  snprintf(media->source, sizeof(media->source), "%s", source.c_str());
  snprintf(media->type, sizeof(media->type), "%s", model.type_default.c_str());
  media->left_margin = media->right_margin = model.left_right;
  media->bottom_margin = media->top_margin = model.bottom_top;
}

// Adds a vendor option: its IPP name, the keywords it takes and its default.
static void AddVendor(pappl_pr_driver_data_t *data, ipp_t *attrs, const char *name,
                      std::vector<const char *> values, const char *default_value)
{
  std::string supported = std::string(name) + "-supported";
  std::string def = std::string(name) + "-default";
  data->vendor[data->num_vendor++] = name;
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), (int)values.size(),
                nullptr, values.data());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, default_value);
}

// Describes a model to PAPPL: what it prints, on what, and the callbacks that print.
void FillDriverData(const Model &model, pappl_pr_driver_data_t *data, ipp_t **attrs)
{
  data->extension = const_cast<Model *>(&model);
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->rendpage_cb = EndPage;
  data->rendjob_cb = EndJob;
  data->testpage_cb = PrintTestPage;
  data->status_cb = UpdateStatus;
  data->printfile_cb = PrintCareFile;
  data->delete_cb = RemoveCarePages;
  data->format = kCareFormat;

  snprintf(data->make_and_model, sizeof(data->make_and_model), "%s", model.description.c_str());
  data->ppm = 2;
  data->ppm_color = 1;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE;
  if (model.photo) data->kind |= PAPPL_KIND_PHOTO;
  if (model.roll) data->kind |= PAPPL_KIND_ROLL | PAPPL_KIND_LARGE_FORMAT;
  data->has_supplies = true;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_AUTO_MONOCHROME |
                          PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_AUTO;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;

  data->num_resolution = (int)model.resolutions.size();
  for (int i = 0; i < data->num_resolution; i++) {
    data->x_resolution[i] = model.resolutions[(size_t)i].x;
    data->y_resolution[i] = model.resolutions[(size_t)i].y;
  }
  data->x_default = model.resolutions[(size_t)model.default_resolution].x;
  data->y_default = model.resolutions[(size_t)model.default_resolution].y;

  data->left_right = model.left_right;
  data->bottom_top = model.bottom_top;
  data->num_media = (int)model.media.size();
  for (int i = 0; i < data->num_media; i++) data->media[i] = model.media[(size_t)i].c_str();
  data->num_source = (int)model.sources.size();
  for (int i = 0; i < data->num_source; i++) {
    data->source[i] = model.sources[(size_t)i].ipp.c_str();
    FillMedia(model, model.media_default, model.sources[(size_t)i].ipp, &data->media_ready[i]);
  }
  FillMedia(model, model.media_default, model.source_default, &data->media_default);
  data->num_type = (int)model.types.size();
  for (int i = 0; i < data->num_type; i++) data->type[i] = model.types[(size_t)i].ipp.c_str();

  if (!*attrs) *attrs = ippNew();
  data->num_vendor = 0;
  AddVendor(data, *attrs, kWeaveOption, {"driver", "printer"}, "driver");
  if (model.variable_dots)
    AddVendor(data, *attrs, kDotsOption, {"single", "variable"},
              model.variable_default ? "variable" : "single");
  if (model.cutter) AddVendor(data, *attrs, kCutOption, {"none", "after-each-page"}, "none");
}
