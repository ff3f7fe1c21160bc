#include "base/userbox.h"

#include "base/runrecord.h"
#include "base/tracelog.h"

namespace {

int g_unattended = 0;

int UnattendedAnswer(UINT type, const char **name)
{
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        *name = "No";
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        *name = "Abort";
        return IDABORT;
    default:
        *name = "OK";
        return IDOK;
    }
}

} // namespace

void SetUnattended(int unattended)
{
    g_unattended = unattended ? 1 : 0;
}

int IsUnattended(void)
{
    return g_unattended;
}

int UserBox(HWND owner, const char *text, const char *caption, UINT type)
{
    int answer;
    if (!g_unattended) {
        answer = MessageBoxA(owner, text, caption, type);
    } else {
        const char *name = "";
        answer = UnattendedAnswer(type, &name);
        TracePrintf("\t\tbox not shown (answer %s): %s\n", name, text ? text : "");
    }
    RecordBox(caption, text, type, answer);
    return answer;
}
