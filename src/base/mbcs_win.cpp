#include "base/mbcs.h"

#include <windows.h>

int MbIsLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) ? 1 : 0;
}
