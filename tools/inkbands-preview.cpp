// inkbands-preview: shows what the printer would put on paper from a stream
// the filter wrote: one PNG per page, optionally one per ink, and a dump of
// the printer commands.
#include "preview.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: inkbands-preview [--dump] [--commands] [--inks] [--no-images] [--scale N]\n"
    "                        [--xdpi N] [--ydpi N] [--escdot-bits 1|2] [-o PREFIX] [FILE]\n"
    "Decodes the printer stream in FILE (standard input when absent or -) and\n"
    "writes PREFIX-1.png, PREFIX-2.png, ... (PREFIX defaults to \"page\").\n"
    "  --dump          list the decoded printer commands on standard output\n"
    "  --commands      list the commands as written, one a line, and write no\n"
    "                  picture (\"ESC ( U 02 02 02 a0 05\", \"ESC i 02 01 02 0010\n"
    "                  0004 <64 bytes>\"); an undecodable rest is \"?? N bytes\"\n"
    "  --inks          also write PREFIX-N-INK.png, one grey picture per ink\n"
    "  --no-images     write no picture\n"
    "  --scale N       one picture pixel for N x N dots (default: at most 3000\n"
    "                  pixels across)\n"
    "  --xdpi, --ydpi  resolution of the dot grid when the stream cannot tell\n"
    "  --escdot-bits   bits per dot of ESC . rows (default: 2 only with a\n"
    "                  variable dot size selected, else 1)\n";

// What the command line asked for.
struct Arguments
{
  bool dump = false, commands = false, inks = false, images = true;
  int scale = 0;
  std::string prefix = "page";
  std::string file;
  preview::DecodeOptions options;
};

// Reads a positive number argument; false when it is not one.
bool ParseNumber(const char *text, int *value)
{
  char *end = nullptr;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (errno || end == text || *end || n <= 0 || n > 1000000) return false;
  *value = int(n);
  return true;
}

// Parses the command line; false (after a message) on a wrong one.
bool ParseArguments(int argc, char **argv, Arguments *args)
{
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    int *number = nullptr;
    if (a == "--dump")
      args->dump = true;
    else if (a == "--commands")
      args->commands = true;
    else if (a == "--inks")
      args->inks = true;
    else if (a == "--no-images")
      args->images = false;
    else if (a == "--scale")
      number = &args->scale;
    else if (a == "--xdpi")
      number = &args->options.xdpi;
    else if (a == "--ydpi")
      number = &args->options.ydpi;
    else if (a == "--escdot-bits")
      number = &args->options.escdot_bits;
    else if (a == "-o" && i + 1 < argc)
      args->prefix = argv[++i];
    else if (a == "-h" || a == "--help") {
      fputs(kUsage, stdout);
      exit(0);
    } else if ((a[0] != '-' || a == "-") && args->file.empty())
      args->file = a;
    else {
      fprintf(stderr, "ERROR: Unknown argument \"%s\"\n%s", a.c_str(), kUsage);
      return false;
    }
    if (number && (i + 1 >= argc || !ParseNumber(argv[++i], number))) {
      fprintf(stderr, "ERROR: %s needs a positive number\n", a.c_str());
      return false;
    }
  }
  return true;
}

// libpng's error handler: report and return to the writer's set-up point.
void PngError(png_structp png, png_const_charp message)
{
  fprintf(stderr, "ERROR: PNG: %s\n", message);
  longjmp(png_jmpbuf(png), 1);
}

// Writes one picture of a page (ink < 0: the inks mixed, else one ink in
// grey) row by row, so that only one picture row is held at a time.
bool WritePng(const std::string &path, const preview::Page &page, int scale, int ink)
{
  int width = preview::ImageWidth(page, scale), height = preview::ImageHeight(page, scale);
  int channels = ink < 0 ? 3 : 1;
  std::vector<uint8_t> row(size_t(width) * channels);
  FILE *file = fopen(path.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "ERROR: Unable to write %s - %s\n", path.c_str(), strerror(errno));
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
               ink < 0 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Record the picture's resolution so viewers show it at paper size.
  double xdpi = preview::PitchDpi(page.x_pitch) / scale,
         ydpi = preview::PitchDpi(page.y_pitch) / scale;
  png_set_pHYs(png, info, png_uint_32(xdpi / 0.0254 + 0.5), png_uint_32(ydpi / 0.0254 + 0.5),
               PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) {
    preview::RenderRow(page, scale, ink, y, row.data());
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  if (fclose(file) != 0) {
    fprintf(stderr, "ERROR: Unable to write %s - %s\n", path.c_str(), strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

// Reads the stream, decodes it, writes the dump and the pictures.
int main(int argc, char **argv)
{
  Arguments args;
  if (!ParseArguments(argc, argv, &args)) return 1;
  std::string stream;
  if (args.file.empty() || args.file == "-") {
    stream.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(args.file, std::ios::binary);
    if (!in) {
      fprintf(stderr, "ERROR: Unable to open %s - %s\n", args.file.c_str(), strerror(errno));
      return 1;
    }
    stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  if (args.commands) {
    std::vector<preview::Command> commands = preview::ReadCommands(stream);
    for (const preview::Command &command : commands)
      if (!command.words.empty()) printf("%s\n", command.words.c_str());
    return commands.empty() || commands.back().words.compare(0, 2, "??") != 0 ? 0 : 1;
  }
  preview::Decoded decoded;
  bool ok = preview::DecodeStream(stream, args.options, &decoded);
  if (args.dump) {
    for (const preview::Command &command : decoded.commands)
      printf("%8zu  %s\n", command.offset, command.text.c_str());
    fflush(stdout);
  }
  for (size_t n = 0; n < decoded.pages.size(); n++) {
    const preview::Page &page = decoded.pages[n];
    for (const std::string &warning : page.warnings)
      fprintf(stderr, "WARNING: page %zu: %s\n", n + 1, warning.c_str());
    if (!args.images) continue;
    int scale = args.scale ? args.scale : preview::DefaultScale(page);
    std::string base = args.prefix + "-" + std::to_string(n + 1);
    if (!WritePng(base + ".png", page, scale, -1)) return 1;
    if (args.inks)
      for (int ink = 0; ink < preview::kInks; ink++)
        if (!page.levels[ink].empty() &&
            !WritePng(base + "-" + preview::InkName(ink) + ".png", page, scale, ink))
          return 1;
    fprintf(stderr, "INFO: page %zu: %d x %d dots at %g x %g dpi, %s.png\n", n + 1, page.width,
            page.height, preview::PitchDpi(page.x_pitch), preview::PitchDpi(page.y_pitch),
            base.c_str());
  }
  if (!ok) {
    fprintf(stderr, "ERROR: Cannot decode the stream at offset %zu (0x%zx): %s\n",
            decoded.error_offset, decoded.error_offset, decoded.error.c_str());
    return 1;
  }
  return 0;
}
