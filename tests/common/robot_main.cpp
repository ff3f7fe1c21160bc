// LumiupdRobot.exe: starts a program, answers its message boxes in order and
// prints every dialog it saw, then the program's exit code.
// Usage: LumiupdRobot.exe [--answer yes|no|ok|cancel|abort|retry|ignore]...
//                         [--timeout SECONDS] [--shots DIR] [--strict]
//                         [--command-line TEXT] -- PROGRAM [ARGS...]
// --command-line gives the program's arguments as one text, as typed at a
// Windows prompt (its quotes kept), in place of ARGS, which are each quoted
// when they hold a blank.
// With --shots, the screen is saved (BMP) before each box is answered and once
// while the progress dialog shows both paths. With --strict, an answer that
// the box shown has no button for, or a dialog that is no message box nor the
// progress dialog (the folder dialog), stops the run at once: the program is
// ended and the output says which box waited for what, instead of a run that
// hangs until the time-out or takes a Yes/No box's OK for a Yes (a message
// box ends on any of the answer ids). Without it, the soak's spare answers
// close the closing box as they always did.
#include "screenshot.h"
#include "testutil.h"

#include <algorithm>

#include <stdio.h>
#include <string.h>

namespace {

const struct {
    const char *name;
    int id;
} kButtons[] = {{"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
                {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO}};

int ButtonId(const char *name)
{
    for (const auto &e : kButtons)
        if (_stricmp(name, e.name) == 0)
            return e.id;
    return 0;
}

const char *ButtonName(int id)
{
    for (const auto &e : kButtons)
        if (e.id == id)
            return e.name;
    return "?";
}

// Why the run was stopped; empty while it was not. Written once, on the
// robot's thread, and read after the program has ended.
std::string g_stopped;

void StopRun(HWND dlg, const std::string &why)
{
    if (!g_stopped.empty())
        return;
    g_stopped = why;
    DWORD pid = 0;
    GetWindowThreadProcessId(dlg, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process) {
        TerminateProcess(process, 9999);
        CloseHandle(process);
    }
}

void CheckAnswerFits(HWND dlg, int index, const std::vector<RobotAnswer> &answers)
{
    if (index >= (int)answers.size())
        return;
    DialogRecord rec = ReadDialog(dlg);
    std::string offered;
    for (const DialogButton &b : rec.buttons) {
        if (b.id == answers[index].button)
            return;
        offered += std::string(offered.empty() ? "" : " or ") + ButtonName(b.id);
    }
    // The box's line breaks as a script writes them, so that the reason stays one line.
    std::string text = rec.text;
    std::replace(text.begin(), text.end(), '\n', '#');
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    StopRun(dlg, "box " + std::to_string(index + 1) + " [" + rec.caption + "] \"" + text + "\" waits for " +
                     offered + "; answer " + std::to_string(index + 1) + " is " + ButtonName(answers[index].button));
}

// A dialog that is no message box: the progress dialog has its path labels,
// the folder dialog its tree of folders, which the robot cannot choose from.
bool IsFolderDialog(HWND dlg)
{
    return FindWindowExA(dlg, nullptr, "SysTreeView32", nullptr) != nullptr && !GetDlgItem(dlg, 1002);
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

void SetHandlers(RunOptions &options, const std::string &dir, bool strict)
{
    static bool progressTaken = false;
    options.otherDialogs = [dir, strict](HWND dlg) {
        if (strict && IsFolderDialog(dlg)) {
            StopRun(dlg, "the folder dialog [" + WindowText(dlg) + "] waits for a folder to be chosen, which the "
                         "robot cannot do: answer no to the \"not found\" question before it");
            return true;
        }
        return dir.empty() || ShootProgress(dlg, dir, &progressTaken);
    };
    std::vector<RobotAnswer> answers = options.answers;
    options.beforeAnswer = [dir, answers, strict](HWND dlg, int index) {
        if (!dir.empty())
            SaveScreenBmp(dir + "\\box" + std::to_string(index + 1) + ".bmp");
        if (strict)
            CheckAnswerFits(dlg, index, answers);
    };
}

} // namespace

int main(int argc, char **argv)
{
    RunOptions options;
    std::string shots;
    bool strict = false;
    const char *commandLine = nullptr;
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; i++) {
        if (strcmp(argv[i], "--answer") == 0 && i + 1 < argc) {
            if (!ButtonId(argv[++i])) {
                fprintf(stderr, "LumiupdRobot: no such answer \"%s\" (yes, no, ok, cancel, abort, retry, ignore)\n",
                        argv[i]);
                return 2;
            }
            options.answers.push_back({ButtonId(argv[i])});
        }
        else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            options.timeoutMs = (DWORD)atoi(argv[++i]) * 1000;
        else if (strcmp(argv[i], "--shots") == 0 && i + 1 < argc)
            shots = argv[++i];
        else if (strcmp(argv[i], "--strict") == 0)
            strict = true;
        else if (strcmp(argv[i], "--command-line") == 0 && i + 1 < argc)
            commandLine = argv[++i];
    }
    SetHandlers(options, shots, strict);
    if (i + 1 >= argc) {
        fprintf(stderr, "usage: LumiupdRobot.exe [--answer BUTTON]... [--timeout S] [--shots DIR] [--strict] "
                        "[--command-line TEXT] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    std::string args = commandLine ? commandLine : "";
    for (int j = i + 2; j < argc && !commandLine; j++)
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
    if (!g_stopped.empty())
        printf("stopped by the robot: %s\n", g_stopped.c_str());
    printf("exit code: %d%s\n", (int)r.exitCode,
           r.timedOut ? " (timed out, killed)" : !g_stopped.empty() ? " (stopped by the robot)" : "");
    return 0;
}
