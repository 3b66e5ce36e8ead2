/* Prints how many images the linked archive holds, after checking that
 * the header's size and alignment are the array's and its id the
 * archive's (both generated headers define it). */
#include <stdint.h>
#include <stdio.h>

#include "icons.h" /* brings zefdec.h */

int main(void) {
    zefdec_archive archive;
    if (sizeof icons != ICONS_SIZE || icons_size != ICONS_SIZE) return 3;
    if ((uintptr_t)icons % 16 != 0) return 4;
    if (zefdec_open(&archive, icons, icons_size) != ZEFDEC_OK) return 5;
    if (zefdec_archive_id(&archive) != ICONS_ARCHIVE_ID) return 6;
    printf("%u\n", (unsigned)zefdec_count(&archive));
    return 0;
}
