// LumiupdRobot.exe: starts a program, answers its message boxes in order and
// prints every dialog it saw, then the program's exit code.
// Usage: LumiupdRobot.exe [--answer yes|no|ok|cancel|abort|retry|ignore]...
//                         [--timeout SECONDS] [--shots DIR] -- PROGRAM [ARGS...]
// With --shots, the screen is saved (BMP) before each box is answered and once
// while the progress dialog shows both paths.
#include "screenshot.h"
#include "testutil.h"

#include <stdio.h>
#include <string.h>

namespace {

int ButtonId(const char *name)
{
    const struct {
        const char *name;
        int id;
    } table[] = {{"ok", IDOK},       {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
                 {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO}};
    for (const auto &e : table)
        if (_stricmp(name, e.name) == 0)
            return e.id;
    return 0;
}

const char *IconName(RobotIcon icon)
{
    static const char *names[] = {"none", "information", "warning", "error", "question", "unknown"};
    return names[icon];
}

std::string Quote(const std::string &arg)
{
    return arg.find(' ') == std::string::npos ? arg : "\"" + arg + "\"";
}

// The progress dialog is shot a moment after it appears. Its labels cannot
// be read from here: the updater serves no messages between commands.
bool ShootProgress(HWND dlg, const std::string &dir, bool *taken)
{
    static DWORD firstSeen = 0;
    if (*taken)
        return true;
    if (!GetDlgItem(dlg, 1002))
        return true;
    if (!firstSeen)
        firstSeen = GetTickCount();
    if (GetTickCount() - firstSeen < 700)
        return false;
    SaveScreenBmp(dir + "\\progress.bmp");
    *taken = true;
    return true;
}

void AddScreenshots(RunOptions &options, const std::string &dir)
{
    static bool progressTaken = false;
    options.otherDialogs = [dir](HWND dlg) { return ShootProgress(dlg, dir, &progressTaken); };
    options.beforeAnswer = [dir](HWND, int index) {
        SaveScreenBmp(dir + "\\box" + std::to_string(index + 1) + ".bmp");
    };
}

} // namespace

int main(int argc, char **argv)
{
    RunOptions options;
    std::string shots;
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; i++) {
        if (strcmp(argv[i], "--answer") == 0 && i + 1 < argc)
            options.answers.push_back({ButtonId(argv[++i])});
        else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            options.timeoutMs = (DWORD)atoi(argv[++i]) * 1000;
        else if (strcmp(argv[i], "--shots") == 0 && i + 1 < argc)
            shots = argv[++i];
    }
    if (!shots.empty())
        AddScreenshots(options, shots);
    if (i + 1 >= argc) {
        fprintf(stderr, "usage: LumiupdRobot.exe [--answer BUTTON]... [--timeout S] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    std::string args;
    for (int j = i + 2; j < argc; j++)
        args += (args.empty() ? "" : " ") + Quote(argv[j]);
    RunResult r = RunProgram(argv[i + 1], args, options);
    for (const DialogRecord &d : r.dialogs) {
        if (!d.isMessageBox) {
            printf("dialog without buttons (progress)\n");
            continue;
        }
        printf("box: caption=[%s] icon=%s answered=%d\n", d.caption.c_str(), IconName(d.icon), d.answeredWith);
        printf("  text: %s\n", d.text.c_str());
    }
    printf("exit code: %d%s\n", (int)r.exitCode, r.timedOut ? " (timed out, killed)" : "");
    return 0;
}
