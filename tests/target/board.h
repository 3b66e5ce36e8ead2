/*
 * The few services a program drawn on the target needs, the same for the
 * bare-metal build on QEMU's mps2-an386 (Cortex-M4, board_mps2.c with
 * startup code and semihosting) and for the host build (board_host.c with
 * stdio), so that one C source runs on both and their output can be
 * compared byte for byte.
 */
#ifndef ZEF_TARGET_BOARD_H
#define ZEF_TARGET_BOARD_H

#include <stddef.h>
#include <stdint.h>

/* Text to the console (standard output on both). */
void board_print(const char *text);
/* A number in decimal; and with `decimals` digits after the point of
 * value / 10^decimals. */
void board_print_number(uint32_t value);
void board_print_fixed(uint64_t value, unsigned decimals);

/* A binary file in the current folder of the host (QEMU's with
 * semihosting), opened for writing; -1 when it cannot be. */
int board_create(const char *name);
/* 0 when every byte was written. */
int board_write(int file, const void *data, size_t size);
void board_close(int file);

/* Instructions executed so far, read from the board's timer: exact to
 * the timer's tick (BOARD_TICK_INSTRUCTIONS instructions) under QEMU's
 * -icount shift=0, where every instruction advances the virtual clock by
 * one nanosecond. The host build gives 0. Wraps after about 4.3e9 ticks. */
uint64_t board_instructions(void);
#define BOARD_TICK_INSTRUCTIONS 40u

/* Ends the program (QEMU with it) with the status. */
void board_exit(int status) __attribute__((noreturn));

/* The program: board_exit(main()) is called by the startup code. */
int main(void);

#endif
