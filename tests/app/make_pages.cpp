// Writes one page twice: as PWG raster in 8-bit sGray, as an IPP client sends
// it, and as the CUPS raster a CUPS queue with the same PPD would give the
// filter for it in grey (black = 255 - grey), to compare the printer streams.
//
// Usage: make_pages PPD PWG-SIZE-NAME DPI OUT.pwg OUT.ras [PPD-OPTIONS]
#include <cups/ppd.h>
#include <cups/raster.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

// A grey of every level across the page, blank margins, and black bars.
static unsigned char Grey(unsigned x, unsigned y, unsigned width, unsigned height)
{
  if (y < height / 10 || y > height - height / 10) return 255;
  if ((y / 40) % 5 == 0 && x % 97 < 30) return 0;
  return (unsigned char)(255 - (x * 255 / width + y % 7) % 256);
}

// Opens a raster stream for writing in one of libcups' modes.
static cups_raster_t *Open(const char *path, cups_mode_t mode, int *fd)
{
  *fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return *fd < 0 ? nullptr : cupsRasterOpen(*fd, mode);
}

// Writes the two files of the page.
int main(int argc, char *argv[])
{
  if (argc < 6) {
    fprintf(stderr, "usage: make_pages PPD PWG-SIZE-NAME DPI OUT.pwg OUT.ras [PPD-OPTIONS]\n");
    return 2;
  }
  pwg_media_t *media = pwgMediaForPWG(argv[2]);
  int dpi = atoi(argv[3]);
  cups_page_header2_t pwg;
  if (!media || !cupsRasterInitPWGHeader(&pwg, media, "sgray_8", dpi, dpi, "one-sided", nullptr))
    return 1;

  ppd_file_t *ppd = ppdOpenFile(argv[1]);
  if (!ppd) return 1;
  cups_option_t *options = nullptr;
  int count = cupsParseOptions(argc > 6 ? argv[6] : "", 0, &options);
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, count, options);
  cups_page_header2_t ras;
  if (cupsRasterInterpretPPD(&ras, ppd, 0, nullptr, nullptr)) return 1;
  ras.PageSize[0] = pwg.PageSize[0];
  ras.PageSize[1] = pwg.PageSize[1];
  ras.cupsWidth = pwg.cupsWidth;
  ras.cupsHeight = pwg.cupsHeight;
  ras.cupsBytesPerLine = pwg.cupsWidth;

  int fd_pwg, fd_ras;
  cups_raster_t *out_pwg = Open(argv[4], CUPS_RASTER_WRITE_PWG, &fd_pwg);
  cups_raster_t *out_ras = Open(argv[5], CUPS_RASTER_WRITE_COMPRESSED, &fd_ras);
  if (!out_pwg || !out_ras || !cupsRasterWriteHeader2(out_pwg, &pwg) ||
      !cupsRasterWriteHeader2(out_ras, &ras))
    return 1;
  std::vector<unsigned char> grey(pwg.cupsWidth), black(pwg.cupsWidth);
  for (unsigned y = 0; y < pwg.cupsHeight; y++) {
    for (unsigned x = 0; x < pwg.cupsWidth; x++) {
      grey[x] = Grey(x, y, pwg.cupsWidth, pwg.cupsHeight);
      black[x] = (unsigned char)(255 - grey[x]);
    }
    cupsRasterWritePixels(out_pwg, grey.data(), pwg.cupsWidth);
    cupsRasterWritePixels(out_ras, black.data(), pwg.cupsWidth);
  }
  cupsRasterClose(out_pwg);
  cupsRasterClose(out_ras);
  cupsFreeOptions(count, options);
  ppdClose(ppd);
  return close(fd_pwg) == 0 && close(fd_ras) == 0 ? 0 : 1;
}
