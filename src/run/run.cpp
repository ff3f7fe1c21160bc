#include "run/run.h"

#include "base/messages.h"
#include "base/runrecord.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "checks/checkfile.h"
#include "checks/diskspace.h"
#include "checks/packagecheck.h"
#include "exec/recover.h"
#include "exec/update.h"
#include "launch/startprocess.h"
#include "exec/stage.h"
#include "run/cmdline.h"
#include "exec/copysource.h"
#include "run/resultfile.h"
#include "run/selfstage.h"
#include "run/stagepackage.h"
#include "run/whatif.h"
#include "script/readscript.h"
#include "target/discovery.h"
#include "target/versiongate.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

void GetModuleFolder(void *module, char *folder)
{
    char work[MAX_PATH_BYTES];
    memset(work, 0, sizeof(work));
    GetModuleFileNameA((HMODULE)module, work, MAX_PATH_BYTES - 1);
    char *slash = MbsRChr(work, '\\');
    if (slash)
        slash[1] = '\0';
    StrCopy(folder, MAX_PATH_BYTES, work);
    AddBackslash(folder, MAX_PATH_BYTES);
}

namespace {

// Step 9: the command-line folder, gated, or discovery. Returns nResult so far.
int FillDestinations(const CommandLineOptions &cl, const UpdateScript &script, PtrList *dsts)
{
    if (cl.dstTooLong)
        return RESULT_GATE_REFUSED;
    if (cl.dst[0]) {
        char *copy = StrDup(cl.dst);
        if (!copy)
            return RESULT_NO_DESTINATION;
        if (!PtrListAppend(dsts, copy)) {
            free(copy);
            return RESULT_NO_DESTINATION;
        }
        // The data version is read from the copy as it is once a run cut
        // short there is finished.
        FinishCutShort(copy);
        if (!VersionGate((const char *)PtrListFirstData(dsts), script.targets))
            return RESULT_GATE_REFUSED;
        return RESULT_SUCCESS;
    }
    GetDstPath(script.targets, dsts, script.install);
    return PtrListIsEmpty(dsts) ? RESULT_NO_DESTINATION : RESULT_SUCCESS;
}

// Steps 8 to 12, between the script and the closing box.
int RunSteps(void *instance, const char *srcFolder, const CommandLineOptions &cl, const UpdateScript &script)
{
    PtrList *dsts = PtrListCreate();
    // No code of its own for this: it is the same shortage as code 1.
    if (!dsts)
        return RESULT_NO_MEMORY;
    int result = FillDestinations(cl, script, dsts);
    // A destination left half changed by a run cut short, which this run
    // could not finish either, is not updated over.
    if (result == RESULT_SUCCESS && CutShortLeft())
        result = RESULT_LOCKED_FILE;
    if (cl.whatIf) {
        result = WhatIfSteps(result, srcFolder, cl.dst, dsts, script);
        PtrListFreeStrings(dsts);
        return result;
    }
    if (result == RESULT_SUCCESS && !(cl.flag & CL_FLAG_AUTO) && script.kakunin &&
        UserBox(nullptr, script.kakunin, CAPTION_CONFIRM, MB_ICONQUESTION | MB_YESNO) == IDNO)
        result = RESULT_DECLINED;
    if (result == RESULT_SUCCESS)
        ClearLeftoversFor(dsts, script.commands);
    if (result == RESULT_SUCCESS && !CheckFile(dsts, script.commands))
        result = RESULT_LOCKED_FILE;
    if (result == RESULT_SUCCESS &&
        !checkSpacePeak(dsts, srcFolder, script.atomic ? PEAK_ALL_AT_ONCE : PEAK_ONE_AT_A_TIME, nullptr, nullptr))
        result = RESULT_NO_SPACE;
    if (result == RESULT_SUCCESS)
        result = Update(instance, srcFolder, dsts, script.commands, script.id,
                        cl.flag & CL_FLAG_SILENT, script.atomic)
                     ? RESULT_SUCCESS
                     : RESULT_UPDATE_FAILED;
    PtrListFreeStrings(dsts);
    return result;
}

// An unattended run keeps the system from showing boxes of its own as well:
// "no disk" for a path on an empty removable drive, a file it cannot open,
// the crash box of a process that ends by a fault (a library that cannot be
// loaded on first use ends it so). The bits already set stay set. Returns
// the mode the updater was started with.
UINT QuietErrorMode(void)
{
    UINT started = SetErrorMode(0);
    SetErrorMode(started | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    return started;
}

void ShowClosingBox(int nResult, const CommandLineOptions &cl, const UpdateScript &script, const char *badFile)
{
    if (nResult < (cl.flag & CL_FLAG_AUTO))
        return;
    const char *text = MessageTable[nResult];
    if (nResult == RESULT_SUCCESS && script.success)
        text = script.success;
    // A package that fails its check names the file at fault.
    char named[1024];
    if (nResult == RESULT_BAD_PACKAGE && StrCopy(named, sizeof(named), text) && StrAppend(named, sizeof(named), "\n") &&
        StrAppend(named, sizeof(named), badFile))
        text = named;
    UINT icon = nResult == RESULT_SUCCESS ? MB_ICONINFORMATION : MB_ICONWARNING;
    UserBox(nullptr, text, CAPTION_FINISHED, MB_OK | icon);
}

} // namespace

namespace {

// Steps 3 to 5 and the package's check: nResult so far.
int ReadAndCheck(void *instance, const StagedRun &staged, const CommandLineOptions &cl, const char *updater,
                 PackageCheck *package, UpdateScript *script)
{
    char scriptPath[MAX_PATH_BYTES];
    int manifestRead = StartPackageCheck(package, updater);
    if (!InitUpdateScript(script))
        return RESULT_NO_MEMORY;
    if (cl.whatIfRefused)
        return WhatIfRefuseOption(cl.whatIfRefusedOption);
    if (!manifestRead)
        return RESULT_BAD_PACKAGE;
    if (staged.refusal && staged.refusalCode == RESULT_NO_SPACE) {
        TraceStageShort(staged.need, staged.freeBytes);
        return RESULT_NO_SPACE;
    }
    if (staged.refusal) {
        RefusePackage(package, updater, staged.refusal);
        return RESULT_BAD_PACKAGE;
    }
    if (!UpdateScriptPath(instance, scriptPath))
        return RESULT_BAD_SCRIPT;
    if (!CheckPackagedScript(package, staged.srcFolder))
        return RESULT_BAD_PACKAGE;
    // A checked script is read through the handle it was checked by.
    if (!(package->packaged ? ReadScriptThrough(package->manifest.files[0].held, script)
                            : ReadUpdateScript(instance, script)))
        return RESULT_BAD_SCRIPT;
    if (!CheckPackagedFiles(package, staged.srcFolder, script->commands) ||
        !UseCheckedFiles(package, staged.srcFolder))
        return RESULT_BAD_PACKAGE;
    // A dry run stages nothing: the copies would be files made on the machine.
    return cl.whatIf ? RESULT_SUCCESS : StagePackage(package, staged.srcFolder, script->commands);
}

} // namespace

int RunUpdate(void *instance, const char *cmdLine)
{
    DWORD started = GetTickCount();
    // An elevated packaged run is carried out by its verified copy.
    StagedRun staged;
    int copyResult = 0;
    if (RunFromStage(instance, cmdLine, &staged, &copyResult))
        return copyResult;
    cmdLine = staged.cmdLine;
    TraceLogStart();
    TracePrintf("%s\n", szLogPath);

    CommandLineOptions cl;
    memset(&cl, 0, sizeof(cl));
    ParseCommandLine(cmdLine, &cl);
    TracePrintf("param=[%s]\n", cmdLine);
    TracePrintf("\tcl.flag\t= %d\n", cl.flag);
    TracePrintf("\tcl.dst\t\t= %s\n", cl.dst);
    EnterStage(&staged, &cl);
    // A dry run asks nothing and shows nothing, as an unattended one.
    int unattended = (cl.flag & CL_FLAG_UNATTENDED) || cl.whatIf;
    SetUnattended(unattended);
    if (cl.result[0])
        StartResultFile(cl.result);
    // A dry run's report names the copies the version check refused, from
    // the record.
    if (cl.result[0] || cl.whatIf)
        RunRecordStart();
    UINT startedErrorMode = 0;
    if (unattended)
        startedErrorMode = QuietErrorMode();

    UpdateScript script;
    PackageCheck package;
    const char *srcFolder = staged.srcFolder;
    if (cl.whatIf)
        WhatIfStart(cl.whatIfPath, cmdLine, srcFolder);
    char updater[MAX_PATH_BYTES];
    updater[GetModuleFileNameA((HMODULE)instance, updater, sizeof(updater) - 1)] = '\0';
    int nResult = ReadAndCheck(instance, staged, cl, PathLastComponent(updater), &package, &script);
    if (nResult == RESULT_SUCCESS)
        nResult = RunSteps(instance, srcFolder, cl, script);

    if (cl.whatIf)
        WhatIfFinish(nResult, script, package.bad);
    else
        ShowClosingBox(nResult, cl, script, package.bad);
    // The post program is the application, started for the user at the
    // desktop: it gets the mode the updater was started with, not the quiet
    // one, which a process started from here may take over.
    if (unattended)
        SetErrorMode(startedErrorMode);
    LeaveStage(&staged);
    if (nResult == RESULT_SUCCESS && script.post && !cl.whatIf)
        StartProcess(script.post);
    if (cl.result[0]) {
        RunEnd end = {nResult, cl.flag & CL_FLAG_UNATTENDED, cl.whatIf, package.bad, GetTickCount() - started};
        WriteResultFile(cl.result, script, end);
    }
    RunRecordFree();
    FreeUpdateScript(&script);
    TracePrintf("\nnResult = %d\n", nResult);
    TraceLogStop();
    ForgetCheckedSources();
    CloseStage();
    EndPackageCheck(&package);
    return nResult;
}
