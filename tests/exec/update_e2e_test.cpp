// The real updater carrying out copy, create and remove commands, watched
// from outside: its questions, its progress dialog and the files it leaves.
#include "base/messages.h"

#include "exec_testutil.h"
#include "installed.h"
#include "pngshot.h"
#include "progressread.h"
#include "testutil.h"

#include <atomic>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

namespace {

struct UpdaterRun {
    DWORD exitCode = 0;
    bool timedOut = false;
    bool progressSeen = false;
    std::vector<DialogRecord> boxes;
};

// whileShown, when given, is called on the watching thread once the progress
// dialog is there, while the updater goes on.
UpdaterRun RunUpdater(const std::string &folder, const std::string &args, std::vector<BoxAnswerer::Step> steps,
                      std::function<void(HWND)> whileShown = nullptr)
{
    UpdaterRun run;
    std::string cmd = "\"" + folder + "Lumiupd.exe\" " + args;
    PROCESS_INFORMATION pi;
    if (!StartProgram(cmd, &pi)) {
        ADD_FAILURE() << "cannot start " << cmd;
        return run;
    }
    std::atomic<bool> stop{false}, seen{false};
    std::thread watch([&] {
        HWND dialog = nullptr;
        while (!stop && !dialog) {
            dialog = FindProgressDialog(pi.dwProcessId);
            Sleep(10);
        }
        seen = dialog != nullptr;
        if (dialog && whileShown)
            whileShown(dialog);
    });
    {
        BoxAnswerer answerer(std::move(steps), pi.dwProcessId);
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
            run.timedOut = true;
            TerminateProcess(pi.hProcess, 9999);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        run.boxes = answerer.Boxes();
    }
    stop = true;
    watch.join();
    run.progressSeen = seen;
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

// The update folder: the updater, its script and the new files.
std::string MakeUpdate(const std::string &name, const std::vector<std::string> &commands)
{
    std::vector<std::string> script = {"; end-to-end update", "id=U0300", "kakunin=ルミテルを更新します。",
                                       "target=1.1"};
    script.insert(script.end(), commands.begin(), commands.end());
    std::string dir = MakeUpdateFolder(name, CrLf(script));
    CreateDirectoryA((dir + "data").c_str(), nullptr);
    CreateDirectoryA((dir + "sub").c_str(), nullptr);
    WriteFileBytes(dir + "MIRO42.DLL", "new library");
    SetWriteTime(dir + "MIRO42.DLL", MakeFileTime(2022, 2, 22, 12, 0, 0));
    WriteFileBytes(dir + "data\\new.dat", "new data");
    WriteFileBytes(dir + "sub\\extra.dat", "extra");
    return dir;
}

const std::vector<std::string> kCommands = {"copy=MIRO42.DLL", "create=data", "copy=data\\new.dat",
                                            "copy=sub\\extra.dat", "remove=old.txt"};

class UpdateEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = MakeInstalledFolder("upd_e2e_app", "1.10");
        ASSERT_FALSE(app.empty());
        ASSERT_TRUE(WriteFileBytes(app + "old.txt", "old"));
        upd = MakeUpdate("upd_e2e_upd", kCommands);
    }
    // The commands' effect: "sub" is missing in the application's folder,
    // so that copy is asked about and ignored; everything else is done.
    void ExpectUpdated()
    {
        EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
        FILETIME creation, write;
        ASSERT_TRUE(ReadTimes(app + "MIRO42.DLL", &creation, &write));
        EXPECT_TRUE(SameTime(write, MakeFileTime(2022, 2, 22, 12, 0, 0)));
        EXPECT_EQ(ReadFileBytes(app + "data\\new.dat"), "new data");
        EXPECT_FALSE(FileExists(app + "sub"));
        EXPECT_FALSE(FileExists(app + "old.txt"));
        EXPECT_EQ(InstalledIds(app), "U0300");
        EXPECT_EQ(ListFolder(app), (std::vector<std::string>{"MIRO42.DLL", "MIRO42.INI", "RT_IDX.DAT", "data"}));
    }
    std::string app, upd;
};

// The dialog's controls that have no id: the captions of the two paths.
std::vector<HWND> CaptionLabels(HWND dialog)
{
    std::vector<HWND> labels;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == 0xFFFF || GetDlgCtrlID(child) == -1)
            labels.push_back(child);
    }
    return labels;
}

// Pixels of a window's rectangle on the screen: how many show the dialog's
// face colour and how many are dark like text.
struct Ink {
    int face = 0, dark = 0;
};

Ink InkIn(HWND window, int width, int height, const std::vector<unsigned char> &rgb)
{
    RECT r;
    GetWindowRect(window, &r);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    Ink ink;
    for (int y = r.top < 0 ? 0 : r.top; y < r.bottom && y < height; y++) {
        for (int x = r.left < 0 ? 0 : r.left; x < r.right && x < width; x++) {
            const unsigned char *p = &rgb[((size_t)y * width + x) * 3];
            ink.face += RGB(p[0], p[1], p[2]) == face;
            ink.dark += p[0] + p[1] + p[2] < 3 * 96;
        }
    }
    return ink;
}

// The updater pumps no messages while a program of the script runs: a
// picture taken then shows what the dialog drew by itself. Read on the
// watching thread, judged on the test's own.
struct BusyPicture {
    bool commandShown = false, taken = false;
    std::vector<std::pair<std::string, Ink>> labels;  // the captions, then the source
};

BusyPicture TakeBusyPicture(HWND dialog, const std::string &source)
{
    BusyPicture picture;
    char text[MAX_PATH] = "";
    for (int i = 0; i < 500 && source != text; i++) {
        Sleep(10);
        GetWindowTextA(GetDlgItem(dialog, 1000), text, sizeof(text));
    }
    picture.commandShown = source == text;
    Sleep(300);
    int w = 0, h = 0;
    std::vector<unsigned char> screen;
    picture.taken = ReadScreen(ArtifactDir() + "progress_busy", &w, &h, &screen);
    std::vector<HWND> labels = CaptionLabels(dialog);
    labels.push_back(GetDlgItem(dialog, 1000));
    for (HWND label : labels) {
        GetWindowTextA(label, text, sizeof(text));
        picture.labels.push_back({text, picture.taken ? InkIn(label, w, h, screen) : Ink()});
    }
    return picture;
}

// While the copy into the missing folder is asked about, the dialog shows that
// command and the steps done; a picture of it is kept for a person. Before
// that, while a program runs, it has drawn all of itself.
TEST_F(UpdateEndToEnd, ProgressDialogDuringARealUpdate)
{
    std::vector<std::string> commands = {"exe=HOLD.EXE"};
    commands.insert(commands.end(), kCommands.begin(), kCommands.end());
    upd = MakeUpdate("upd_e2e_upd", commands);
    // The program waits while its ".wait" file exists.
    ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "HOLD.EXE").c_str(), FALSE));
    ASSERT_TRUE(WriteFileBytes(upd + "HOLD.wait", ""));
    BusyPicture busy;
    auto whileBusy = [&](HWND dialog) {
        busy = TakeBusyPicture(dialog, upd + "HOLD.EXE");
        DeleteFileA((upd + "HOLD.wait").c_str());
    };
    ProgressReading seen;
    bool shot = false;
    std::string png = ArtifactDir() + "progress_dialog.png";
    DeleteFileA(png.c_str());
    auto readAndShoot = [&](HWND box) {
        DWORD pid = 0;
        GetWindowThreadProcessId(box, &pid);
        HWND dialog = FindProgressDialog(pid);
        if (!dialog)
            return;
        seen = ReadProgress(dialog);
        // The box is centred like the dialog: move it aside for the picture.
        SetWindowPos(box, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Sleep(500);
        shot = SaveWindowPng(dialog, png);
    };
    UpdaterRun r =
        RunUpdater(upd, "\"" + app + "\"", {{IDYES, nullptr}, {IDIGNORE, readAndShoot}, {IDOK, nullptr}}, whileBusy);
    DeleteFileA((upd + "HOLD.wait").c_str());
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 3u);
    EXPECT_EQ(r.boxes[0].caption, CAPTION_CONFIRM);
    EXPECT_EQ(r.boxes[1].text, SystemText(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(r.boxes[2].caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes[2].text, MessageTable[0]);
    EXPECT_TRUE(r.progressSeen);
    EXPECT_EQ(seen.caption, "処理中です...");
    EXPECT_EQ(seen.source, upd + "sub\\extra.dat");
    EXPECT_EQ(seen.destination, app + "sub\\extra.dat");
    EXPECT_EQ(seen.position, 4);
    EXPECT_EQ(seen.low, 0);
    EXPECT_EQ(seen.high, 6);
    ExpectUpdated();
    EXPECT_TRUE(FileExists(upd + "HOLD.txt")) << "the program ran";
    // "転送元", "転送先" and the source path, each as text on the dialog's face.
    EXPECT_TRUE(busy.commandShown);
    ASSERT_TRUE(busy.taken);
    ASSERT_EQ(busy.labels.size(), 3u);
    EXPECT_EQ(busy.labels[0].first, "転送元");
    EXPECT_EQ(busy.labels[1].first, "転送先");
    for (const auto &label : busy.labels) {
        EXPECT_GT(label.second.face, 20) << label.first;
        EXPECT_GT(label.second.dark, 8) << label.first;
    }
    ASSERT_TRUE(shot);
    std::string picture = ReadFileBytes(png);
    EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(UpdateEndToEnd, SilentRunHasNoDialogAndTheSameResults)
{
    UpdaterRun r = RunUpdater(upd, "-silent \"" + app + "\"", {{IDYES, nullptr}, {IDIGNORE, nullptr}, {IDOK, nullptr}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_FALSE(r.progressSeen);
    // The failed copy is still asked about, and the result still shown.
    ASSERT_EQ(r.boxes.size(), 3u);
    EXPECT_EQ(r.boxes[1].text, SystemText(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(r.boxes[2].text, MessageTable[0]);
    ExpectUpdated();
}

TEST_F(UpdateEndToEnd, AFailedCommandEndsWithCode4AndNoRegistration)
{
    upd = MakeUpdate("upd_e2e_upd", {"copy=MIRO42.DLL", "copy=missing.dat", "remove=old.txt"});
    UpdaterRun r = RunUpdater(upd, "\"" + app + "\"", {{IDYES, nullptr}, {IDOK, nullptr}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[1].text, MessageTable[4]);
    EXPECT_EQ(r.boxes[1].icon, ICON_WARNING);
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
    EXPECT_TRUE(FileExists(app + "old.txt"));
    EXPECT_EQ(InstalledIds(app), "");
}

// Two registered copies: the first lacks the folder its second command needs.
// The second is still updated, and the run reports the first one's failure.
TEST(UpdateEndToEndTwo, FirstDestinationFailingFailsTheRun)
{
    std::string first = MakeInstalledFolder("upd_e2e_first", "1.10");
    std::string second = MakeInstalledFolder("upd_e2e_second", "1.10");
    ASSERT_TRUE(CreateDirectoryA((second + "sub").c_str(), nullptr));
    std::string upd = MakeUpdate("upd_e2e_upd", {"copy=MIRO42.DLL", "create=sub\\deeper", "copy=data\\new.dat"});
    CreateDirectoryA((first + "data").c_str(), nullptr);
    CreateDirectoryA((second + "data").c_str(), nullptr);
    InstalledRegistration a("LumiE2E_A", first), b("LumiE2E_B", second);
    ASSERT_TRUE(a.ok() && b.ok());
    for (const char *args : {"", "-silent"}) {
        SCOPED_TRACE(args);
        for (const std::string &f : {first, second}) {
            WriteFileBytes(f + "MIRO42.INI", "[MAIN]\r\nINSTALLED=\r\n");
            DeleteFileA((f + "data\\new.dat").c_str());
            RemoveDirectoryA((f + "sub\\deeper").c_str());
        }
        UpdaterRun r = RunUpdater(upd, args, {{IDYES, nullptr}, {IDOK, nullptr}});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 4u);
        EXPECT_EQ(r.progressSeen, std::string(args).empty());
        ASSERT_EQ(r.boxes.size(), 2u);
        EXPECT_EQ(r.boxes[1].text, MessageTable[4]);
        EXPECT_EQ(ReadFileBytes(first + "MIRO42.DLL"), "new library");
        EXPECT_FALSE(FileExists(first + "data\\new.dat"));
        EXPECT_EQ(InstalledIds(first), "");
        EXPECT_EQ(ReadFileBytes(second + "data\\new.dat"), "new data");
        EXPECT_TRUE(FileExists(second + "sub\\deeper"));
        EXPECT_EQ(InstalledIds(second), "U0300");
    }
}

} // namespace
