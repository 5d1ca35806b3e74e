#include "TarnwickMedia.h"

TARNWICK_API uint32_t TarnwickGetVersion(void)
{
    return TARNWICK_VERSION;
}
