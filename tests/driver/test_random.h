// The weight source of the testable dither build (compiled with
// INKBANDS_TEST_RANDOM): tests point it at a scripted generator and set it
// back to random afterwards.
#ifndef INKBANDS_TESTS_DRIVER_TEST_RANDOM_H
#define INKBANDS_TESTS_DRIVER_TEST_RANDOM_H

extern "C" long (*inkbands_random)(void);

#endif
