// The floor of every whole-job figure: read a raster stream through libcups
// the way the filter does, line by line, and throw the pixels away.
//
//   inkbands-floor FILE
#include <cups/raster.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char *argv[])
{
  if (argc != 2) {
    fputs("usage: inkbands-floor FILE\n", stderr);
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!raster) return 1;

  cups_page_header2_t header;
  std::vector<unsigned char> line;
  unsigned long long bytes = 0;
  unsigned sum = 0;
  while (cupsRasterReadHeader2(raster, &header)) {
    line.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight && !line.empty(); y++) {
      bytes += cupsRasterReadPixels(raster, line.data(), (unsigned)line.size());
      sum += line[y % line.size()];  // touch the line so the read is not idle
    }
  }
  cupsRasterClose(raster);
  close(fd);
  printf("%llu %u\n", bytes, sum);
  return 0;
}
