// Writes the job corpus on which two filter builds must print the same
// bytes: every printer family, woven and unwoven, every ink set, 1-bit and
// 8-bit input, all compressions and dot depths, several media, multi-page
// and cut-off jobs.
//
//   inkbands-corpus DIR
//
// writes DIR/famN.ppd for every family, DIR/NNN.ras for every job and
// DIR/jobs.txt with one line "NNN family" per job.
#include "pages.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const int kFamilies[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 5000, 5500, 9000, 9600, 10000};

// A small deterministic chooser, independent of the C library's generator.
struct Chooser
{
  uint64_t state;
  unsigned Next(unsigned n)
  {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (unsigned)(state >> 33) % n;
  }
  template <typename T, size_t N> T Pick(const T (&items)[N])
  {
    return items[Next(N)];
  }
};

struct Resolution
{
  unsigned x, y;
};

// Resolutions each family prints with a dot-size table of its own.
std::vector<Resolution> ResolutionsOf(int family)
{
  switch (family) {
  case 1: return {{360, 360}, {720, 720}};
  case 2:
  case 3: return {{360, 360}, {360, 720}, {720, 720}};
  case 6: return {{360, 360}, {720, 360}, {720, 720}, {1440, 720}, {2880, 720}};
  case 8:
  case 9:
  case 10:
  case 11: return {{360, 360}, {720, 720}, {1440, 720}, {2880, 720}};
  default: return {{360, 360}, {720, 720}, {1440, 720}};
  }
}

// Weaves as cupsRowCount and cupsRowStep; the vertical interleave of the
// larger ones suits 720 dpi rows and finer.
struct Weave
{
  unsigned count, step;
};
const Weave kWeaves[] = {{0, 0},  {0, 0}, {96, 8},   {96, 208}, {32, 4}, {48, 6},   {24, 3},
                         {16, 1}, {8, 2}, {64, 204}, {30, 5},   {15, 3}, {12, 202}, {128, 8}};

const char *const kMedia[] = {"Plain",    "Glossy", "Special",     "Transparency",
                              "Archival", "Matte",  "PlainNormal", "PhotoPaper"};

struct Ink
{
  cups_cspace_t space;
  bool four_planes;  // six-ink page whose lines carry K, C, M and Y only
};
const Ink kInks[] = {{CUPS_CSPACE_K, false},     {CUPS_CSPACE_CMY, false},
                     {CUPS_CSPACE_KCMY, false},  {CUPS_CSPACE_KCMYcm, false},
                     {CUPS_CSPACE_KCMYcm, true}, {CUPS_CSPACE_KCMY, false}};

const unsigned kWidths[] = {7, 173, 500, 727, 1001, 1440, 2001, 2880};
const unsigned kHeights[] = {1, 97, 300, 610, 1203};

// One page picked at random within a family's possibilities.
pages::PagePlan RandomPage(int family, Chooser &c, uint32_t seed)
{
  std::vector<Resolution> res = ResolutionsOf(family);
  Resolution r = res[c.Next((unsigned)res.size())];
  Weave weave = c.Pick(kWeaves);
  // The printer's raster unit holds only so many rows of interleave.
  if (r.y < 720 && weave.step % 100 > 6) weave.step = weave.step / 100 * 100 + 4;
  Ink ink = c.Pick(kInks);
  unsigned bits = c.Next(3) == 0 ? 1 : 8;
  if (ink.four_planes) bits = 8;
  unsigned compression = c.Next(3);
  // Pre-dithered pages cannot go out on 2-bit dots: such pages get 8 bits.
  if (bits == 1 && pages::DotBits(family, r.x, r.y, compression) == 2) {
    compression = c.Next(2);
    if (pages::DotBits(family, r.x, r.y, compression) == 2) bits = 8;
  }
  unsigned width = c.Pick(kWidths), height = c.Pick(kHeights);
  // Keep the corpus quick: big pages get fewer lines.
  if ((uint64_t)width * height > 1500000) height = 1500000 / width;

  pages::PagePlan plan;
  plan.header = pages::Header(family, width, height, ink.space, bits, r.x, r.y, weave.count,
                              weave.step, compression, c.Pick(kMedia));
  if (ink.four_planes) plan.header.cupsBytesPerLine = 4 * width;
  if (c.Next(4) == 0) {
    plan.header.cupsMediaType = 0x1200 + c.Next(16) * 16 + c.Next(3);
    plan.header.MediaPosition = c.Next(2) ? 0 : 33;
    plan.header.CutMedia = (cups_cut_t)c.Next(2);
  }
  plan.content = c.Next(4) == 0 ? pages::Content::kPhoto : pages::Content::kMixed;
  plan.seed = seed;
  plan.lines = height;
  return plan;
}

bool Write(const std::string &dir, FILE *list, int &number, int family,
           const std::vector<pages::PagePlan> &job)
{
  char name[32];
  snprintf(name, sizeof(name), "%03d", number++);
  if (!pages::WriteJob(dir + "/" + name + ".ras", job)) {
    fprintf(stderr, "cannot write job %s\n", name);
    return false;
  }
  fprintf(list, "%s %d\n", name, family);
  return true;
}

}  // namespace

int main(int argc, char *argv[])
{
  if (argc != 2) {
    fputs("usage: inkbands-corpus DIR\n", stderr);
    return 2;
  }
  std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  FILE *list = fopen((dir + "/jobs.txt").c_str(), "w");
  if (!list) {
    perror(dir.c_str());
    return 1;
  }

  for (int family : kFamilies)
    if (!pages::WritePpdFile(family, dir + "/fam" + std::to_string(family) + ".ppd")) return 1;

  int number = 0;
  Chooser c{12345};
  uint32_t seed = 1;

  // Random single pages for every family.
  for (int family : kFamilies)
    for (int i = 0; i < 12; i++)
      if (!Write(dir, list, number, family, {RandomPage(family, c, seed++)})) return 1;

  // Multi-page jobs: the dither's random sequence and the ink split carry
  // over from page to page.
  for (int family : {7, 4, 11, 10000}) {
    std::vector<pages::PagePlan> job;
    for (int i = 0; i < 4; i++) job.push_back(RandomPage(family, c, seed++));
    if (!Write(dir, list, number, family, job)) return 1;
  }

  // The pages the benchmark prints, at a smaller size: six inks woven
  // with and without horizontal interleave, unwoven, on 2-bit dots; four
  // inks and one ink; pre-dithered four inks.
  struct Fixed
  {
    int family;
    cups_cspace_t space;
    unsigned bits, count, step, compression;
  };
  const Fixed fixed[] = {
      {7, CUPS_CSPACE_KCMYcm, 8, 96, 8, 1},   {7, CUPS_CSPACE_KCMYcm, 8, 96, 208, 1},
      {7, CUPS_CSPACE_KCMYcm, 8, 0, 0, 1},    {7, CUPS_CSPACE_KCMYcm, 8, 96, 8, 2},
      {7, CUPS_CSPACE_KCMY, 8, 96, 8, 1},     {7, CUPS_CSPACE_K, 8, 96, 8, 1},
      {7, CUPS_CSPACE_KCMY, 1, 96, 8, 1},     {7, CUPS_CSPACE_KCMY, 1, 0, 0, 1},
      {6, CUPS_CSPACE_KCMYcm, 8, 96, 208, 1}, {9, CUPS_CSPACE_KCMY, 8, 64, 4, 1},
      {9, CUPS_CSPACE_K, 8, 64, 4, 1},        {11, CUPS_CSPACE_KCMY, 8, 48, 203, 0},
      {11, CUPS_CSPACE_K, 1, 48, 6, 1},       {10, CUPS_CSPACE_K, 8, 45, 9, 1},
  };
  for (const Fixed &f : fixed) {
    pages::PagePlan plan;
    plan.header = pages::Header(f.family, 2001, 700, f.space, f.bits, 1440, 720, f.count, f.step,
                                f.compression, "Glossy");
    plan.content = pages::Content::kPhoto;
    plan.seed = seed++;
    plan.lines = 700;
    if (!Write(dir, list, number, f.family, {plan})) return 1;
  }

  // A page the filter refuses.
  {
    pages::PagePlan plan;
    plan.header = pages::Header(7, 300, 20, CUPS_CSPACE_KCMY, 1, 720, 720, 0, 0, 2, "Plain");
    plan.content = pages::Content::kMixed;
    plan.seed = seed++;
    plan.lines = 20;
    if (!Write(dir, list, number, 7, {plan})) return 1;
  }

  // Cut-off jobs: the stream ends in the middle of the page.
  for (unsigned bits : {1u, 8u})
    for (unsigned count : {0u, 96u}) {
      pages::PagePlan plan;
      plan.header =
          pages::Header(7, 900, 400, CUPS_CSPACE_KCMY, bits, 1440, 720, count, 8, 1, "Plain");
      plan.content = pages::Content::kMixed;
      plan.seed = seed++;
      plan.lines = 150;
      if (!Write(dir, list, number, 7, {plan})) return 1;
    }

  return fclose(list) == 0 ? 0 : 1;
}
