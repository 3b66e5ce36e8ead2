/*
 * Startup code and board services for QEMU's mps2-an386 (Cortex-M4): the
 * vector table, the reset handler that copies .data and clears .bss before
 * main, semihosting (ARM's "angel" calls through BKPT 0xAB) for console
 * text, host files and the exit status, and the CMSDK APB timer 0 as the
 * instruction counter under -icount shift=0.
 *
 * Memory (QEMU's model of AN385/AN386, see mps2-an386.ld): 4 MB ZBT SSRAM1
 * at 0x00000000 for code and read-only data, 4 MB ZBT SSRAM2/3 at
 * 0x20000000 for data, bss and the stack, 16 MB PSRAM at 0x21000000 for
 * large read-only data (section .psram). All of it is RAM to QEMU, with
 * no wait states.
 */
#include "board.h"

#include <string.h>

/* --- semihosting --------------------------------------------------------- */

enum {
    SYS_OPEN = 0x01,
    SYS_CLOSE = 0x02,
    SYS_WRITE0 = 0x04,
    SYS_WRITE = 0x05,
    SYS_EXIT_EXTENDED = 0x20
};
#define ADP_STOPPED_APPLICATION_EXIT 0x20026u
#define ADP_STOPPED_RUNTIME_ERROR 0x20023u

static int semihost(uint32_t operation, const void *argument)
{
    register uint32_t r0 __asm__("r0") = operation;
    register const void *r1 __asm__("r1") = argument;
    __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
    return (int)r0;
}

void board_print(const char *text)
{
    semihost(SYS_WRITE0, text);
}

void board_print_number(uint32_t value)
{
    board_print_fixed(value, 0);
}

void board_print_fixed(uint64_t value, unsigned decimals)
{
    char text[32];
    char *at = text + sizeof text;
    unsigned digits = 0;
    *--at = 0;
    do {
        *--at = (char)('0' + value % 10);
        value /= 10;
        if (++digits == decimals) *--at = '.';
    } while (value || digits <= decimals);
    board_print(at);
}

int board_create(const char *name)
{
    uint32_t block[3];
    block[0] = (uint32_t)name;
    block[1] = 5; /* "wb" */
    block[2] = (uint32_t)strlen(name);
    return semihost(SYS_OPEN, block);
}

int board_write(int file, const void *data, size_t size)
{
    uint32_t block[3];
    block[0] = (uint32_t)file;
    block[1] = (uint32_t)data;
    block[2] = (uint32_t)size;
    return semihost(SYS_WRITE, block) == 0 ? 0 : -1; /* bytes not written */
}

void board_close(int file)
{
    uint32_t block = (uint32_t)file;
    semihost(SYS_CLOSE, &block);
}

void board_exit(int status)
{
    uint32_t block[2];
    block[0] = ADP_STOPPED_APPLICATION_EXIT;
    block[1] = (uint32_t)status;
    for (;;) semihost(SYS_EXIT_EXTENDED, block);
}

/* --- CMSDK APB timer 0: a 32-bit down counter at the 25 MHz system clock -- */

#define TIMER0_CTRL (*(volatile uint32_t *)0x40000000u)
#define TIMER0_VALUE (*(volatile uint32_t *)0x40000004u)
#define TIMER0_RELOAD (*(volatile uint32_t *)0x40000008u)

static void timer_start(void)
{
    TIMER0_CTRL = 0;
    TIMER0_RELOAD = 0xFFFFFFFFu;
    TIMER0_VALUE = 0xFFFFFFFFu;
    TIMER0_CTRL = 1; /* enable, no interrupt */
}

uint64_t board_instructions(void)
{
    return (uint64_t)(0xFFFFFFFFu - TIMER0_VALUE) * BOARD_TICK_INSTRUCTIONS;
}

/* --- startup ------------------------------------------------------------- */

extern uint32_t __data_load[], __data_start[], __data_end[], __bss_start[], __bss_end[];
extern uint32_t __stack_top[];

void reset_handler(void) __attribute__((noreturn));
void reset_handler(void)
{
    uint32_t *from = __data_load, *to = __data_start;
    while (to < __data_end) *to++ = *from++;
    for (to = __bss_start; to < __bss_end;) *to++ = 0;
    timer_start();
    board_exit(main());
}

static void fault_handler(void)
{
    board_print("target: fault (hard fault, memory fault, bus fault or usage fault)\n");
    board_exit(70);
}

typedef void (*vector)(void);
__attribute__((section(".vectors"), used)) static const vector vectors[16] = {
    (vector)(uintptr_t)__stack_top, reset_handler, fault_handler, fault_handler,
    fault_handler, fault_handler, fault_handler, 0, 0, 0, 0,
    fault_handler, fault_handler, 0, fault_handler, fault_handler};
