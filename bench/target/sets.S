/* The blob of make_sets.cpp (its path in SETS_FILE), linked into the
 * PSRAM of mps2-an386 as read-only data: the archives, planes and LZ4 data
 * sit where firmware keeps them, in memory it reads in place. */
    .section .psram.sets, "a"
    .balign 4
    .global bench_sets_blob
bench_sets_blob:
    .incbin SETS_FILE
    .global bench_sets_blob_end
bench_sets_blob_end:
