/*
 * inkbands image library: dot lookup tables, error-diffusion dither with
 * black generation and light inks, bit packing and blank checks.
 *
 * The interface is plain C so that C and C++ programs can both use it.
 */
#ifndef INKBANDS_DRIVER_H
#define INKBANDS_DRIVER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One cell of a dot lookup table: the dot level for an ink amount and the
   residual ink (amount minus the level's nominal value) the dither spreads. */
typedef struct lut_entry_s
{
  int pixel; /* dot level, 0 (no dot) to num_values - 1 */
  int error; /* cell index minus the chosen level's value */
} lut_entry_t;

/* Error-diffusion state of one page. Each plane has two error rows of
   width + 4 cells (two guard cells at each end): plane k owns rows k and
   planes + k, which swap roles as the scan direction flips. */
typedef struct dither_state_s
{
  int width;     /* pixels per line */
  int planes;    /* ink planes sharing the record */
  int direction; /* 0: next line runs left to right; 1: right to left */
  int *errors;   /* 2 * planes rows of width + 4 cells, error x 128 */
} dither_state_t;

/* Dot lookup tables */
lut_entry_t *cupsLutNew(const int *values, int num_values, int max);
void cupsLutDelete(lut_entry_t *lut);

/* Dither state */
dither_state_t *cupsDitherNew(int width, int planes);
void cupsDitherDelete(dither_state_t *state);

/* Dither one line of 8-bit ink amounts in place into dot levels. */
void cupsDither1(dither_state_t *state, const lut_entry_t *lut, unsigned char *black);
void cupsDither3(dither_state_t *state, const lut_entry_t *lut, unsigned char *cyan,
                 unsigned char *magenta, unsigned char *yellow);
void cupsDither4(dither_state_t *state, const lut_entry_t *color_table,
                 const lut_entry_t *black_table, unsigned char *cyan, unsigned char *magenta,
                 unsigned char *yellow, unsigned char *black);
void cupsDither6(dither_state_t *state, const lut_entry_t *color_table,
                 const lut_entry_t *black_table, unsigned char *cyan, unsigned char *magenta,
                 unsigned char *yellow, unsigned char *black, unsigned char *light_cyan,
                 unsigned char *light_magenta);

/* Lines dithered on several threads: cupsDitherPrepare makes a line ready
   in page order (black generation, light split, and where each plane's
   share of the random weights lies in their one sequence; it flips the
   direction as cupsDither1/3/4/6 do, with the same rows in the same order:
   1 = black; 3 = cyan, magenta, yellow; 4 = those and black; 6 = those and
   light cyan, light magenta). It returns 0, doing nothing, for a line the
   one-thread calls must dither (rows sharing memory, tables with absurd
   residuals). cupsDitherPlanes then dithers some of the line's planes (on
   glibc drawing their weights on the calling thread); threads may dither
   different planes of a line at once, and each plane's lines must go in
   page order. A line made ready with other dot tables than the lines still
   being dithered needs those finished. */
typedef struct dither_line_s dither_line_t;
dither_line_t *cupsDitherLineNew(int width, int planes);
void cupsDitherLineDelete(dither_line_t *line);
int cupsDitherPrepare(dither_state_t *state, dither_line_t *line, const lut_entry_t *color_table,
                      const lut_entry_t *black_table, unsigned char *const *rows, int planes);
void cupsDitherPlanes(dither_state_t *state, const dither_line_t *line, int first, int count);

/* Dither one plane of 16-bit samples (every step-th sample) into out. */
void cupsDitherN(dither_state_t *state, const lut_entry_t *lut, const unsigned short *samples,
                 int step, unsigned char *out, int plane);

/* Process-wide ink settings, kept from page to page. */
void cupsDitherSetBlackGeneration(int start, int end);
void cupsDitherSetLightCyan(float ratio);
void cupsDitherSetLightMagenta(float ratio);

/* Bit packing */
void cupsPackHorizontal(const unsigned char *ipixels, unsigned char *obytes, int width,
                        unsigned char clearto, int step);
void cupsPackHorizontal2(const unsigned char *ipixels, unsigned char *obytes, int width, int step);
/* Packs every interleave column of a row of dot levels at once: column x
   (pixels x, x + step, ...) into obytes[x], columns pixels each, as
   cupsPackHorizontal2 packs one. */
void cupsPackColumns2(const unsigned char *ipixels, unsigned char *const *obytes, int columns,
                      int step);
void cupsPackHorizontalBit(const unsigned char *ipixels, unsigned char *obytes, int width,
                           unsigned char clearto, unsigned char bit);
void cupsPackVertical(const unsigned char *ipixels, unsigned char *obytes, int width,
                      unsigned char bit, int step);

/* PackBits: encode length bytes into out (room for limit bytes); returns the
   encoded length, or 0 when the encoding would not be shorter than limit.
   Runs go on across row boundaries: a band is one buffer. */
size_t cupsPackBits(const unsigned char *data, size_t length, unsigned char *out, size_t limit);

/* Blank checks */
int cupsCheckBytes(const unsigned char *bytes, int length);
int cupsCheckValue(const unsigned char *bytes, int length, unsigned char value);

#ifdef __cplusplus
}
#endif

#endif /* INKBANDS_DRIVER_H */
