/*
 * inkbands printer care: the remote-mode maintenance jobs an ESC/P2 inkjet
 * takes (head cleaning, nozzle check, ink levels), the reader of the
 * printer's ink-level answer, and the names and colours of its inks.
 *
 * Used by the command filter (inkbands-commands) and the printer
 * application. The interface is plain C; nothing here does any I/O.
 *
 * A maintenance job, as the printer reads it:
 *   [exit 1284.4 packet mode]      families 1 to 4999, as the print filter
 *   ESC @                          reset
 *   ESC ( R 08 00 00 "REMOTE1"     enter remote mode
 *   two-letter commands            each: letters, 16-bit LE count, parameters
 *   ESC 00 00 00                   leave remote mode
 *   [FF]                           eject the nozzle-check page
 * Families 1, 2 and 3 take no remote mode: they get no job at all.
 */
#ifndef INKBANDS_CARE_H
#define INKBANDS_CARE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The maintenance commands, as CUPS command files name them. */
typedef enum care_command_e
{
  CARE_CLEAN = 0,        /* "Clean": clean all heads (CH) */
  CARE_SELF_TEST = 1,    /* "PrintSelfTestPage": VI, NC, page ejected */
  CARE_REPORT_LEVELS = 2 /* "ReportLevels": ask for ink levels (IQ) */
} care_command_t;

/* Room enough for any whole maintenance job. */
#define CARE_JOB_MAX 64
/* Most inks any answer or marker list holds. */
#define CARE_INKS_MAX 8

/* One ink of a printer, as CUPS shows it as a marker. */
typedef struct care_ink_s
{
  const char *name;   /* "Black", "Light Cyan", ... */
  const char *colour; /* "#rrggbb" */
} care_ink_t;

/* The command a CUPS command-file word names (exact, case-sensitive), or
   -1 when it is none of the three. */
int cupsCareCommand(const char *name);

/* 1 when the printer family takes remote-mode maintenance commands (every
   known family from 4 up), 0 otherwise (1, 2, 3, unknown numbers). */
int cupsCareSupported(int family);

/* Writes the whole job for one command and printer family into job
   (CARE_JOB_MAX bytes) and returns its length; 0 when the family takes no
   remote-mode commands or the command is unknown. Send it as it is. */
size_t cupsCareJob(int family, care_command_t command, unsigned char *job);

/* Reads the printer's answer to ReportLevels: "IQ:" anywhere in the bytes,
   then two hexadecimal digits per ink (a percentage) up to ";". Fills
   levels[] (CARE_INKS_MAX entries) in the printer's ink order, -1 for an
   ink whose value is above 100, and returns how many inks there are.
   Returns -1 when there is no complete answer: no "IQ:", no ";", an odd
   or non-hexadecimal digit, no ink, more than CARE_INKS_MAX inks. */
int cupsCareParseLevels(const char *answer, size_t length, int *levels);

/* The inks of a printer that answered with `count` levels, in the order
   the answer lists them: 3 (cyan, magenta, yellow), 4 (black, cyan,
   magenta, yellow), 6 (the four, light cyan, light magenta) or 7 (the six,
   light black). NULL for any other count. */
const care_ink_t *cupsCareInks(int count);

/* How many inks the printers of a family carry (4, 6 or 7), so that a
   printer that did not answer still gets the right markers; 0 for an
   unknown family. */
int cupsCareFamilyInks(int family);

#ifdef __cplusplus
}
#endif

#endif /* INKBANDS_CARE_H */
