#include "run/cmdline.h"

#include <string.h>

namespace {

struct Token {
    char text[CL_TOKEN_MAX + 1];
    int len;
    int overflow;
};

void Take(Token *t, char c)
{
    if (t->len < CL_TOKEN_MAX)
        t->text[t->len++] = c;
    else
        t->overflow = 1;
}

int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Collects the rest of a token from p; returns where parsing goes on.
const char *ReadToken(const char *p, Token *t, int quoted)
{
    for (;;) {
        if (quoted) {
            if (!*p)
                return p;
            if (*p == '"')
                return p + 1;
            Take(t, *p++);
        } else {
            if (!*p || IsBlank(*p))
                return p;
            if (*p == '"') {
                quoted = 1;
                p++;
                continue;
            }
            Take(t, *p++);
        }
    }
}

// Every option whose name starts with "whatif" asks for a dry run, also
// after more prefix characters ("--whatif"): a misspelt one taken for an unknown
// option would have made the run a real update. "whatif" alone, or
// "whatif=" and the report's path (the last one given wins; an empty one
// means beside the trace log); any other form is refused. truncated: the
// token did not fit, so not even its path can be taken. 1 when it was one.
int ApplyWhatIf(CommandLineOptions *cl, const char *token, int truncated)
{
    const char *name = token;
    while (*name == '-' || *name == '/')
        name++;
    char head[7];
    strncpy(head, name, 6);
    head[6] = '\0';
    if (AsciiStricmp(head, "whatif") != 0)
        return 0;
    cl->whatIf = 1;
    if (!truncated && (name[6] == '\0' || name[6] == '=')) {
        StrCopy(cl->whatIfPath, sizeof(cl->whatIfPath), name[6] ? name + 7 : "");
        return 1;
    }
    cl->whatIfRefused = 1;
    strncpy(cl->whatIfRefusedOption, token, sizeof(cl->whatIfRefusedOption) - 1);
    cl->whatIfRefusedOption[sizeof(cl->whatIfRefusedOption) - 1] = '\0';
    return 1;
}

} // namespace

void ApplyToken(CommandLineOptions *cl, const char *token, int isOption)
{
    if (isOption) {
        if (AsciiStricmp(token, "auto") == 0)
            cl->flag |= CL_FLAG_AUTO;
        else if (AsciiStricmp(token, "silent") == 0)
            cl->flag |= CL_FLAG_SILENT;
        else if (AsciiStricmp(token, "unattended") == 0)
            cl->flag |= CL_FLAG_AUTO | CL_FLAG_SILENT | CL_FLAG_UNATTENDED;
        else if (!ApplyWhatIf(cl, token, 0) && strlen(token) > 7 && token[6] == '=') {
            char name[8];
            memcpy(name, token, 7);
            name[6] = '\0';
            if (AsciiStricmp(name, "result") == 0)
                StrCopy(cl->result, sizeof(cl->result), token + 7);
        }
        return;
    }
    memset(cl->dst, 0, sizeof(cl->dst));
    cl->dstTooLong = 0;
    strncpy(cl->dst, token, sizeof(cl->dst) - 2);
    AddBackslash(cl->dst, sizeof(cl->dst));
}

void ParseCommandLine(const char *line, CommandLineOptions *cl)
{
    const char *p = line;
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (!*p)
            return;
        Token t;
        t.len = 0;
        t.overflow = 0;
        int isOption = 0;
        int quoted = 0;
        if (*p == '-' || *p == '/') {
            isOption = 1;
            p++;
            if (!*p)
                return;
            // The character right after the prefix belongs to the token,
            // whatever it is; only a quote keeps its meaning.
            if (*p == '"')
                quoted = 1;
            else
                Take(&t, *p);
            p++;
        } else if (*p == '"') {
            quoted = 1;
            p++;
        }
        p = ReadToken(p, &t, quoted);
        t.text[t.len] = '\0';
        if (!t.overflow) {
            ApplyToken(cl, t.text, isOption);
        } else if (!isOption) {
            memset(cl->dst, 0, sizeof(cl->dst));
            cl->dstTooLong = 1;
        } else {
            // An overlong option is an unknown one, ignored, unless it asks
            // for a dry run.
            ApplyWhatIf(cl, t.text, 1);
        }
    }
}
