// Page variables of the inkbands filter: set by every StartPage from the
// page's plan (MakePagePlan in inkbands.cpp) and only read afterwards, but
// for the band engine's running counters (OutputFeed, DotRowCurrent).
#ifndef INKBANDS_FILTER_H
#define INKBANDS_FILTER_H

#include "driver.h"

// One band of packed rows for one ink plane and one interleave column:
// the rows one pass of the print head lays down together, DotRowStep
// raster rows apart.
struct dot_band_t
{
  dot_band_t *prev;       // band before this one in DotUsedList (informational)
  dot_band_t *next;       // next band in DotAvailList or DotUsedList
  int x;                  // interleave column, also the band's horizontal offset
  int y;                  // print row of the band's first row (plus head offset)
  int plane;              // ink plane index
  unsigned dirty;         // bit 0 set once a stored row holds ink
  int row;                // rows stored so far
  int count;              // rows that make the band full
  unsigned char *buffer;  // DotRowCount rows of DotBufferSize bytes
};

constexpr int kBandSlots = 128;  // row slots of DotBands
constexpr int kMaxPlanes = 7;    // plane entries per slot

// Page parameters
inline int BitPlanes;      // bits per printed dot, 1 or 2
inline int PrinterPlanes;  // ink planes sent: 1, 3, 4 or 6
inline int DotRowMax;      // nozzle rows used per head pass; 1 = not woven
inline int DotRowFeed;     // paper feed per pass of the band placement
inline int DotRowStep;     // vertical interleave: rows between adjacent nozzles
inline int DotColStep;     // horizontal interleave: columns between dots of a pass
inline int PrinterLength;  // page length in raster rows
inline int PrinterTop;     // top of the printable area in raster rows
inline int OutputFeed;     // rows of paper feed still to be sent
inline int HorizontalDpi;  // dots per inch across the page

// Colour set-up of contone pages
inline unsigned char *PixelBuffers[kMaxPlanes];  // one line, one row per plane
inline dither_state_t *DitherState;              // the page's error diffusion
inline lut_entry_t *DitherLut;                   // ink amount -> dot level

// Band pool
inline int DotRowCurrent;                             // print row of the last band sent
inline int DotRowCount;                               // rows in a full band
inline int DotBufferSize;                             // bytes in one packed row of one plane
inline int DotRowOffset[kMaxPlanes];                  // row offset of each plane's nozzles
inline dot_band_t *DotBands[kBandSlots][kMaxPlanes];  // bands being filled
inline dot_band_t *DotAvailList;                      // free bands (a stack)
inline dot_band_t *DotUsedList;                       // full bands in print order
inline unsigned char *DotBuffers[kMaxPlanes];         // packed rows of an unwoven line
inline unsigned char *CompBuffer;                     // PackBits output of one band or row

// Dot-size code sent with family 5000's raster rows; kept across pages
inline int DotSize;

#endif
