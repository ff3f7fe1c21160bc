// The one platform question the string helpers ask: is this byte the first of
// a double-byte character in the ANSI code page? On Windows the system answers
// (code page 932 on the machines served); elsewhere code page 932 is assumed.
#pragma once

int MbIsLeadByte(unsigned char c);
