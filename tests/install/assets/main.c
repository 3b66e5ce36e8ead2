/* Prints how many images the linked archive holds, after checking that
 * the header's size is the array's, its alignment as asked and its id the
 * archive's. */
#include <stdint.h>
#include <stdio.h>

#include "icons.h" /* brings zefdec.h */

int main(void) {
    zefdec_archive archive;
    if (icons_size != ICONS_SIZE || icons[0] != 0xAA) return 3;
    if ((uintptr_t)icons % 16 != 0) return 4;
    if (zefdec_open(&archive, icons, icons_size) != ZEFDEC_OK) return 5;
    if (zefdec_archive_id(&archive) != ICONS_ARCHIVE_ID) return 6;
    printf("%u\n", (unsigned)zefdec_count(&archive));
    return 0;
}
