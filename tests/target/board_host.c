/* The board services on the host, through stdio: the same program as on
 * the target, its files written where it runs. */
#include "board.h"

#include <stdio.h>
#include <stdlib.h>

void board_print(const char *text)
{
    fputs(text, stdout);
}

void board_print_number(uint32_t value)
{
    printf("%lu", (unsigned long)value);
}

void board_print_fixed(uint64_t value, unsigned decimals)
{
    uint64_t scale = 1;
    unsigned n;
    for (n = 0; n < decimals; n++) scale *= 10;
    printf("%llu", (unsigned long long)(value / scale));
    if (decimals) printf(".%0*llu", (int)decimals, (unsigned long long)(value % scale));
}

#define FILES 8
static FILE *files[FILES];

int board_create(const char *name)
{
    int file;
    for (file = 0; file < FILES && files[file]; file++) {
    }
    if (file == FILES || !(files[file] = fopen(name, "wb"))) return -1;
    return file;
}

int board_write(int file, const void *data, size_t size)
{
    if (file < 0 || file >= FILES || !files[file]) return -1;
    return fwrite(data, 1, size, files[file]) == size ? 0 : -1;
}

void board_close(int file)
{
    if (file < 0 || file >= FILES || !files[file]) return;
    fclose(files[file]);
    files[file] = 0;
}

uint64_t board_instructions(void)
{
    return 0;
}

void board_exit(int status)
{
    fflush(stdout);
    exit(status);
}
