// Updates made all or nothing ("atomic=1"), run for real: a failure at any
// point leaves every installed file as it was (bytes, attributes, times),
// the settings file and the history included; the same script without the
// line fails the same way and leaves what it did. A run cut short at any
// step of the journal is finished by the next run: wholly old, or wholly new
// with the id registered.
#include "base/messages.h"
#include "base/tracelog.h"
#include "exec/journal.h"
#include "hardening_util.h"
#include "installed.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const char kKakunin[] = "更新します。";
const char kIni[] = "[MAIN]\r\nINSTALLED=OLD1\r\nNAME=ルミテル\r\n\r\n[VIEW]\r\nWIDTH=800\r\n";
const char kHistory[] = "20240101\tOLD1\tfirst\tline\r\n";

// Every file under folder, with its attributes, creation and last-write
// times and bytes; folders by name. Leftover names of the updater (which a
// failed run must not leave either) are part of it.
void FilesOf(const std::string &folder, const std::string &skip, std::string *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == ".." || name == skip)
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            *out += folder + name + "\\\n";
            FilesOf(folder + name + "\\", skip, out);
            continue;
        }
        // The bytes by their FNV-1a digest: a failure shows lines, not binaries.
        unsigned long long digest = 14695981039346656037ULL;
        for (unsigned char c : ReadFileBytes(folder + name))
            digest = (digest ^ c) * 1099511628211ULL;
        char line[200];
        snprintf(line, sizeof(line), " attr=%lx created=%lx:%lx written=%lx:%lx bytes=%016llx\n", fd.dwFileAttributes,
                 fd.ftCreationTime.dwHighDateTime, fd.ftCreationTime.dwLowDateTime, fd.ftLastWriteTime.dwHighDateTime,
                 fd.ftLastWriteTime.dwLowDateTime, digest);
        *out += folder + name + line;
    } while (FindNextFileA(find, &fd));
    FindClose(find);
}

std::string Snapshot(const std::string &folder, const std::string &skip = "")
{
    std::string out;
    FilesOf(folder, skip, &out);
    return out;
}

// An installed copy with data to replace, remove and keep, settings with
// other keys and a history with a line.
std::string MakeApp(const std::string &app)
{
    EXPECT_TRUE(WriteFileBytes(app + "RT_IDX.DAT", DataFileBytes("1.10")));
    EXPECT_TRUE(CopyFileA((BinDir() + "MIRO42_fixture.dll").c_str(), (app + "MIRO42.DLL").c_str(), FALSE));
    EXPECT_TRUE(WriteFileBytes(app + "MIRO42.INI", kIni));
    EXPECT_TRUE(WriteFileBytes(app + "update.log", kHistory));
    for (const char *name : {"data.dat", "old.dat", "held.dat", "readonly.dat", "big.dat", "grow.dat"})
        EXPECT_TRUE(WriteFileBytes(app + name, std::string("old ") + name));
    EXPECT_TRUE(SetFileAttributesA((app + "readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(SetFileAttributesA((app + "data.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    FILETIME old = {0x12345678, 0x01d00000};
    HANDLE file = CreateFileA((app + "old.dat").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(SetFileTime(file, &old, &old, &old));
    CloseHandle(file);
    return app;
}

// The commands every case makes before it fails: a replaced module and data
// file, a new file, a new folder with a file in it, a removal, a history line.
const std::vector<std::string> kBefore = {"copy=MIRO42.DLL", "copy=data.dat", "copy=new.dat", "create=newdir",
                                          "copy=newdir\\x.dat", "remove=old.dat", "log=2024/atomic"};

std::string MakeUpdate(const std::string &name, bool atomic, const std::vector<std::string> &failing)
{
    std::vector<std::string> script = {"id=ATOM", std::string("kakunin=") + kKakunin, "target=1.1"};
    if (atomic)
        script.push_back("atomic=1");
    script.insert(script.end(), kBefore.begin(), kBefore.end());
    script.insert(script.end(), failing.begin(), failing.end());
    script.push_back("copy=after.dat");
    std::string upd = MakeUpdateFolder(name, CrLf(script));
    EXPECT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (upd + "lumiplugin.dll").c_str(), FALSE));
    EXPECT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "recorder.exe").c_str(), FALSE));
    EXPECT_TRUE(CreateDirectoryA((upd + "newdir").c_str(), nullptr));
    for (const char *file : {"MIRO42.DLL", "data.dat", "new.dat", "newdir\\x.dat", "held.dat", "after.dat"})
        EXPECT_TRUE(WriteFileBytes(upd + file, std::string("new ") + file));
    EXPECT_TRUE(WriteFileBytes(upd + "big.dat", std::string(300 * 1024, 'n')));
    EXPECT_TRUE(WriteFileBytes(upd + "grow.dat", std::string(128 * 1024, 'g')));
    return upd;
}

struct FailureCase {
    const char *name;
    std::vector<std::string> failing;
    // Between the question and the closing box: each box's text and answer.
    std::vector<std::pair<std::string, int>> boxes;
    bool smallDisk;
    // All or nothing: the failure comes when the changes are made, after
    // the last command, and asks nothing.
    bool inBurst;
};

std::vector<FailureCase> Failures()
{
    return {
        {"missing source", {"copy=missing.dat"}, {}, false, false},
        {"held destination", {"copy=held.dat"}, {{SystemText(ERROR_SHARING_VIOLATION), IDABORT}}, false, false},
        {"access denied", {"remove=readonly.dat"}, {{SystemText(ERROR_ACCESS_DENIED), IDABORT}}, false, false},
        {"remove of a missing file", {"remove=absent.dat"}, {{SystemText(ERROR_FILE_NOT_FOUND), IDABORT}}, false, false},
        {"failing plug-in",
         {"dll=data.dat,lumiplugin.dll,StatusMinus1"},
         {{"'" + std::string("{app}") + "data.dat'の更新に失敗しました。", IDOK}},
         false, false},
        {"failing program", {"exe=recorder.exe,code:3"}, {}, false, false},
        {"full drive",
         {"dll=fill.bin,lumiplugin.dll,FillDisk", "copy=big.dat"},
         {{SystemText(ERROR_DISK_FULL), IDABORT}},
         true,
         false},
        // grow.dat, held for writing, is written in place: it grows only then.
        {"full drive when written in place",
         {"dll=fill.bin,lumiplugin.dll,FillDiskBut192K", "copy=grow.dat"},
         {{SystemText(ERROR_DISK_FULL), IDABORT}},
         true,
         true},
    };
}

bool Traced(const std::string &line)
{
    std::vector<std::string> lines = TraceLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string WithApp(std::string text, const std::string &app)
{
    size_t at = text.find("{app}");
    return at == std::string::npos ? text : text.replace(at, 5, app);
}

// One run of the case in a fresh copy of the application; the snapshots
// before and after it (the plug-in's own fill.bin left out). Holds held.dat
// (reading, sharing reading) and grow.dat (for writing, sharing reading and
// writing) meanwhile, and the history as the application may (sharing
// reading and writing: its line is written in place).
RunResult RunCase(const FailureCase &c, bool atomic, const std::string &app, std::string *before,
                  std::string *after)
{
    RemoveTree(app.substr(0, app.size() - 1));
    EXPECT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
    MakeApp(app);
    std::string upd = MakeUpdate(std::string("atomic_upd_") + (atomic ? "a" : "p"), atomic, c.failing);
    *before = Snapshot(app);
    HANDLE held = CreateFileA((app + "held.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    HANDLE history = CreateFileA((app + "update.log").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE grow = CreateFileA((app + "grow.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    RunOptions options;
    options.answers = {{IDYES}};
    for (const auto &box : c.boxes)
        if (!(atomic && c.inBurst))
            options.answers.push_back({box.second});
    options.answers.push_back({IDOK});
    RunResult r = RunProgram(upd + "Lumiupd.exe", "\"" + app + "\"", options);
    CloseHandle(held);
    CloseHandle(history);
    CloseHandle(grow);
    *after = Snapshot(app, "fill.bin");
    SetFileAttributesA((app + "readonly.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    return r;
}

void ExpectFailedAsAlways(const RunResult &r, const FailureCase &c, const std::string &app, bool atomic)
{
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u) << BoxTexts(r);
    size_t asked = atomic && c.inBurst ? 0 : c.boxes.size();
    ASSERT_EQ(r.boxes.size(), asked + 2) << BoxTexts(r);
    EXPECT_EQ(r.boxes.front().text, kKakunin);
    for (size_t i = 0; i < asked; i++)
        EXPECT_EQ(r.boxes[i + 1].text, WithApp(c.boxes[i].first, app)) << i;
    EXPECT_EQ(r.boxes.back().caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes.back().text, MessageTable[4]);
}

// A failure at each place: the same boxes and code with the line and
// without; without it the commands before the failure are done, with it
// nothing of the installed copy has changed.
TEST(AllOrNothing, FailureAtEachPlaceLeavesTheCopyAsItWas)
{
    for (const FailureCase &c : Failures()) {
        SCOPED_TRACE(c.name);
        ULARGE_INTEGER avail, total, free;
        if (c.smallDisk &&
            (!GetDiskFreeSpaceExA("W:\\", &avail, &total, &free) || total.QuadPart > 8u * 1024 * 1024)) {
            // As the other tests of the small disk: a run as root has it.
            printf("[ SKIPPED  ] %s: no small disk W: (mounting a tmpfs needs root)\n", c.name);
            continue;
        }
        std::string app = c.smallDisk ? "W:\\atomic\\" : MakeTestDir("atomic_app");
        std::string before, after;
        RunResult plain = RunCase(c, false, app, &before, &after);
        ExpectFailedAsAlways(plain, c, app, false);
        EXPECT_NE(after, before) << "the plain run changed nothing before its failure";
        EXPECT_FALSE(Traced("\t\tupdate undone - " + app)) << "no new lines in a plain run";

        RunResult atomic = RunCase(c, true, app, &before, &after);
        ExpectFailedAsAlways(atomic, c, app, true);
        EXPECT_EQ(after, before);
        EXPECT_TRUE(Traced("\t\tupdate undone - " + app));
        RemoveTree(app.substr(0, app.size() - 1));
    }
}

// The steps of a burst as the updater makes them, after its journal: a
// file replaced (moved to its backup, the new one in), a new file, a file
// removed, a folder made, then the settings file replaced. A run cut short
// after any of them, before or after the journal says the update is
// complete, and after any of the backups went: the next run (one that then
// fails at once) leaves the copy wholly old, or wholly new.
class CutShort {
public:
    explicit CutShort(const std::string &app) : app_(app) {}

    // Stages the new files and writes the journal, as the updater does
    // before the first change.
    void Prepare()
    {
        Stage("MIRO42.DLL", "~lu00000000000000A1.tmp", "~lu00000000000000A1.bak", "new library");
        Stage("new.dat", "~lu00000000000000A2.tmp", "", "new file");
        Stage("MIRO42.INI", "~lu00000000000000A3.tmp", "~lu00000000000000A3.bak",
              "[MAIN]\r\nINSTALLED=OLD1,ATOM\r\nNAME=ルミテル\r\n\r\n[VIEW]\r\nWIDTH=800\r\n");
        JournalRecord put = records_[0], added = records_[1], settings = records_[2];
        JournalRecord removed = Record(JOURNAL_REMOVE, "old.dat", "", "~lu00000000000000A4.bak");
        removed.oldId = IdOf(app_ + "old.dat");
        JournalRecord folder = Record(JOURNAL_FOLDER, "newdir", "", "");
        records_ = {put, added, removed, folder, settings};
        std::string journal = JOURNAL_HEADER;
        for (const JournalRecord &r : records_)
            journal += Line(r);
        ASSERT_TRUE(WriteFileBytes(app_ + kJournal, journal));
    }

    // The burst's first steps changes made: 7 in all.
    void Make(int steps)
    {
        const std::vector<std::pair<std::string, std::string>> moves = {
            {"MIRO42.DLL", "~lu00000000000000A1.bak"}, {"~lu00000000000000A1.tmp", "MIRO42.DLL"},
            {"~lu00000000000000A2.tmp", "new.dat"},    {"old.dat", "~lu00000000000000A4.bak"},
            {"", "newdir"},                            {"MIRO42.INI", "~lu00000000000000A3.bak"},
            {"~lu00000000000000A3.tmp", "MIRO42.INI"}};
        for (int i = 0; i < steps; i++) {
            if (moves[i].first.empty())
                ASSERT_TRUE(CreateDirectoryA((app_ + moves[i].second).c_str(), nullptr));
            else
                ASSERT_TRUE(MoveFileA((app_ + moves[i].first).c_str(), (app_ + moves[i].second).c_str())) << i;
        }
    }

    // The journal says complete; the first of the backups gone.
    void Complete(int backupsGone)
    {
        JournalRecord done = Record(JOURNAL_COMPLETE, "", "", "");
        std::string journal = ReadFileBytes(app_ + kJournal) + Line(done);
        ASSERT_TRUE(WriteFileBytes(app_ + kJournal, journal));
        const char *backups[] = {"~lu00000000000000A1.bak", "~lu00000000000000A4.bak", "~lu00000000000000A3.bak"};
        for (int i = 0; i < backupsGone; i++)
            ASSERT_TRUE(DeleteFileA((app_ + backups[i]).c_str()));
    }

    static std::string Line(const JournalRecord &r)
    {
        char line[JOURNAL_LINE_BYTES];
        size_t n = FormatJournalRecord(&r, line, sizeof(line));
        EXPECT_GT(n, 0u);
        return std::string(line, n);
    }

    static FileId IdOf(const std::string &path)
    {
        FileId id = {0, 0};
        HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        BY_HANDLE_FILE_INFORMATION info;
        if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info)) {
            id.serial = info.dwVolumeSerialNumber;
            id.index = ((unsigned long long)info.nFileIndexHigh << 32) | info.nFileIndexLow;
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        EXPECT_TRUE(HasFileId(&id)) << path;
        return id;
    }

private:
    static constexpr const char *kJournal = "~lu00000000000000A0.jnl";

    static JournalRecord Record(char kind, const char *target, const char *staged, const char *backup)
    {
        JournalRecord r;
        memset(&r, 0, sizeof(r));
        r.kind = kind;
        strcpy(r.target, target);
        strcpy(r.staged, staged);
        strcpy(r.backup, backup);
        return r;
    }

    void Stage(const char *target, const char *staged, const char *backup, const std::string &bytes)
    {
        ASSERT_TRUE(WriteFileBytes(app_ + staged, bytes));
        JournalRecord r = Record(JOURNAL_PUT, target, staged, backup);
        if (backup[0])
            r.oldId = IdOf(app_ + target);
        r.newId = IdOf(app_ + staged);
        records_.push_back(r);
    }

    std::string app_;
    std::vector<JournalRecord> records_;
};

RunResult RunFailingUpdate(const std::string &app)
{
    std::string upd = MakeUpdateFolder("atomic_cut_upd", CrLf({"id=LATER", "target=1.1", "copy=missing.dat"}));
    RunOptions options;
    options.answers = {{IDOK}};
    return RunProgram(upd + "Lumiupd.exe", "-unattended \"" + app + "\"", options);
}

TEST(AllOrNothing, CutShortAtEachStepIsFinishedByTheNextRun)
{
    std::string app = MakeTestDir("atomic_cut");
    for (int steps = 0; steps <= 7; steps++) {
        for (int gone = -1; gone <= (steps == 7 ? 3 : -1); gone++) {
            SCOPED_TRACE("after step " + std::to_string(steps) +
                         (gone >= 0 ? ", complete, backups gone: " + std::to_string(gone) : ""));
            RemoveTree(app.substr(0, app.size() - 1));
            ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
            MakeApp(app);
            const std::string old = Snapshot(app);
            CutShort cut(app);
            cut.Prepare();
            cut.Make(steps);
            if (gone >= 0)
                cut.Complete(gone);
            std::string left = Snapshot(app);
            RunResult r = RunFailingUpdate(app);
            EXPECT_EQ(r.exitCode, 4u) << BoxTexts(r);
            std::string now = Snapshot(app);
            if (gone < 0) {
                EXPECT_EQ(now, old) << "left by the cut:\n" << left;
                EXPECT_TRUE(Traced("\tpending update undone - " + app + "~lu00000000000000A0.jnl"));
                continue;
            }
            EXPECT_EQ(now.find("~lu"), std::string::npos) << now;
            EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
            EXPECT_EQ(ReadFileBytes(app + "new.dat"), "new file");
            EXPECT_FALSE(FileExists(app + "old.dat"));
            EXPECT_EQ(GetFileAttributesA((app + "newdir").c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
            EXPECT_NE(ReadFileBytes(app + "MIRO42.INI").find("INSTALLED=OLD1,ATOM\r\n"), std::string::npos);
            EXPECT_TRUE(Traced("\tpending update completed - " + app + "~lu00000000000000A0.jnl"));
        }
    }
}

// Any run, all or nothing or not: a write in place (the settings file held
// by the application) cut short leaves the file neither old nor new; the
// journal written before it lets the next run finish it from its copy.
TEST(AllOrNothing, WriteInPlaceCutShortIsFinishedByTheNextRun)
{
    std::string app = MakeTestDir("inplace_cut");
    MakeApp(app);
    const std::string text = "[MAIN]\r\nINSTALLED=OLD1,NEW\r\nNAME=ルミテル\r\n\r\n[VIEW]\r\nWIDTH=800\r\n";
    ASSERT_TRUE(WriteFileBytes(app + "~lu00000000000000B1.tmp", text));
    ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", text.substr(0, 20) + std::string(30, '\0')));
    JournalRecord write, done;
    memset(&write, 0, sizeof(write));
    memset(&done, 0, sizeof(done));
    write.kind = JOURNAL_WRITE;
    strcpy(write.target, "MIRO42.INI");
    strcpy(write.staged, "~lu00000000000000B1.tmp");
    write.oldId = CutShort::IdOf(app + "MIRO42.INI");
    done.kind = JOURNAL_COMPLETE;
    ASSERT_TRUE(WriteFileBytes(app + "~lu00000000000000B0.jnl",
                               std::string(JOURNAL_HEADER) + CutShort::Line(write) + CutShort::Line(done)));
    RunResult r = RunFailingUpdate(app);
    EXPECT_EQ(r.exitCode, 4u) << BoxTexts(r);
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.INI"), text);
    EXPECT_FALSE(FileExists(app + "~lu00000000000000B1.tmp"));
    EXPECT_FALSE(FileExists(app + "~lu00000000000000B0.jnl"));
    EXPECT_TRUE(Traced("\tpending update completed - " + app + "~lu00000000000000B0.jnl"));
}

} // namespace
