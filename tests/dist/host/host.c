/* Converting an ESD that does not exist fails, with the reason in tarnwick.log. */
#include <TarnwickMedia.h>

int main(void)
{
    return ConvertESDToISO(L"missing.esd", L"missing.iso") ? 1 : 0;
}
