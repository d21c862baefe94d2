/* The public header is plain C. */
#include "velk/velk.h"

int32_t velk_header_check(void);

int32_t velk_header_check(void)
{
    char text[VELK_MESSAGE_BUFFER];
    return getHostError(text, 0) + VELK_DONE;
}
