/* The device decoder built for size, as the installed package builds it by
 * default, under names of its own so that it links beside the decoder built
 * for speed in one benchmark program. */
#define zefdec_open zefdec_small_open
#define zefdec_open_with zefdec_small_open_with
#define zefdec_open_reader_window zefdec_small_open_reader_window
#define zefdec_count zefdec_small_count
#define zefdec_info zefdec_small_info
#define zefdec_begin zefdec_small_begin
#define zefdec_line zefdec_small_line
#define zefdec_next_span zefdec_small_next_span
#define zefdec_draw zefdec_small_draw
#define zefdec_draw_with zefdec_small_draw_with
#define zefdec_archive_id zefdec_small_archive_id
#define zefdec_strerror zefdec_small_strerror
#include "zefdec.c"
