// What the script will do, as the updater read it on this machine.
#include "checker.h"

#include "target/versiongate.h"

#include <string.h>

namespace {

const char INDENT[] = "                     ";

// A text whose "#" became line feeds, shown over several indented lines.
void PrintText(FILE *out, const char *label, const char *text)
{
    fprintf(out, "  %-18s %s", label, text ? "" : "(none)\n");
    if (!text)
        return;
    for (const char *p = text; *p; p++) {
        if (*p == '\n')
            fprintf(out, "\n%s", INDENT);
        else
            fputc(*p, out);
    }
    fputc('\n', out);
}

void PrintPattern(FILE *out, const char *pattern)
{
    size_t length = strlen(pattern);
    if (pattern[0] == '-')
        fprintf(out, "%s%s (number %g or less)\n", INDENT, pattern, VersionNumber(pattern + 1));
    else if (length > 0 && pattern[length - 1] == '-')
        fprintf(out, "%s%s (number %g or more)\n", INDENT, pattern, VersionNumber(pattern));
    else if (length == 0)
        fprintf(out, "%s(empty: every copy whose RT_IDX.DAT can be read)\n", INDENT);
    else
        fprintf(out, "%s%s (text starting with \"%s\")\n", INDENT, pattern, pattern);
}

void PrintTargets(FILE *out, const PtrList *targets)
{
    fprintf(out, "  %s%s\n", "accepted versions:",
            PtrListIsEmpty(targets) ? " (none: no installed copy passes the version check)" : "");
    for (PtrNode *node = PtrListFirst(targets); node; node = node->next)
        PrintPattern(out, (const char *)node->data);
}

void PrintCommand(FILE *out, const FileEntry *entry)
{
    switch (entry->act) {
    case ACT_COPY:
        fprintf(out, "copy %s\n", entry->filename);
        break;
    case ACT_REMOVE:
        fprintf(out, "remove %s\n", entry->filename);
        break;
    case ACT_DLL: {
        const AddOnExtra *pair = (const AddOnExtra *)entry->extra;
        fprintf(out, "dll %s: call %s in %s\n", entry->filename, pair->func, pair->dll);
        break;
    }
    case ACT_EXE:
        if (entry->extra)
            fprintf(out, "exe %s with parameters \"%s\"\n", entry->filename, (const char *)entry->extra);
        else
            fprintf(out, "exe %s without parameters\n", entry->filename);
        break;
    case ACT_SHORTCUT:
        fprintf(out, "shortcut %s.lnk to %s in the destination\n", (const char *)entry->extra, entry->filename);
        break;
    case ACT_LOG:
        fprintf(out, "log \"%s\"\n", entry->filename);
        break;
    case ACT_CREATE:
        fprintf(out, "create %s\n", entry->filename);
        break;
    default:
        fprintf(out, "act %d %s\n", entry->act, entry->filename);
        break;
    }
}

void PrintCommands(FILE *out, const ScriptChecker *checker)
{
    fprintf(out, "  commands, in each destination in this order:%s\n",
            PtrListIsEmpty(checker->script.commands) ? " (none)" : "");
    PtrNode *line = PtrListFirst(checker->commandLines);
    int number = 1;
    for (PtrNode *node = PtrListFirst(checker->script.commands); node; node = node->next, number++) {
        fprintf(out, "    %d. line %ld: ", number, line ? (long)(size_t)line->data : 0L);
        PrintCommand(out, (const FileEntry *)node->data);
        if (line)
            line = line->next;
    }
}

// Digits of a byte count, without leaning on a printf dialect for 64 bits.
void PrintCount(FILE *out, unsigned long long count)
{
    char digits[24];
    int used = 0;
    do {
        digits[used++] = (char)('0' + count % 10);
        count /= 10;
    } while (count);
    while (used)
        fputc(digits[--used], out);
}

} // namespace

void PrintSummary(ScriptChecker *checker)
{
    FILE *out = checker->log.out;
    const UpdateScript *script = &checker->script;
    fprintf(out, "SUMMARY\n");
    PrintText(out, "id:", script->id);
    PrintText(out, "question:", script->kakunin);
    PrintTargets(out, script->targets);
    PrintText(out, "install folder:", script->install);
    PrintText(out, "success text:", script->success);
    PrintText(out, "post program:", script->post);
    if (script->atomic)
        fprintf(out, "  %-18s %s\n", "all or nothing:", "yes (atomic=1): a destination whose update fails is restored");
    PrintCommands(out, checker);
    if (checker->updateFolder) {
        fprintf(out, "  update folder:    %d files, ", checker->folderFiles);
        PrintCount(out, checker->folderBytes);
        fprintf(out, " bytes (the disk-space check wants up to that much free on each destination drive)\n");
    }
}
