// The device decoder built for size (DeviceSmall.c): the calls the
// benchmarks use, under its own names.
#pragma once

#include "zefdec.h"

extern "C" {
int zefdec_small_open(zefdec_archive* archive, const void* data, size_t size);
uint32_t zefdec_small_count(const zefdec_archive* archive);
int zefdec_small_draw(const zefdec_archive* archive, uint32_t position, const zefdec_canvas* canvas, int32_t x,
                      int32_t y);
}
