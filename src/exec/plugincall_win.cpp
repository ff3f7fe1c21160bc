#include "exec/plugincall.h"

namespace {

// One record of the thread's exception handler chain (x86 structured
// exception handling): the chain's head is at fs:[0].
struct HandlerRecord {
    HandlerRecord *next;
    void *handler;
};

// The call in progress. The run has one thread and calls one plug-in at a
// time; the handler only acts while this is set.
struct GuardedCall {
    void *resume[5];        // __builtin_setjmp's buffer
    HandlerRecord *outer;   // the chain's head before the call
    PlugInFault fault;
};
GuardedCall *g_call = nullptr;

#if defined(__i386__)
HandlerRecord *ChainHead(void)
{
    HandlerRecord *head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head) : : "memory");
    return head;
}

void SetChainHead(HandlerRecord *head)
{
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// Reached only for an exception that every handler inside the plug-in let
// pass (the system's own guarded calls handle theirs first): from here it
// would end the process. The chain is cut back to where it stood before the
// call and the caller resumes; the plug-in's frames are dropped without
// running any more of its code, since its state can no longer be trusted.
extern "C" EXCEPTION_DISPOSITION __cdecl PlugInFaultHandler(EXCEPTION_RECORD *record, void *, CONTEXT *, void *)
{
    GuardedCall *call = g_call;
    if (!call || (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)))
        return ExceptionContinueSearch;
    call->fault.code = record->ExceptionCode;
    call->fault.address = record->ExceptionAddress;
    SetChainHead(call->outer);
    __builtin_longjmp(call->resume, 1);
}

__attribute__((noinline)) int EnterGuarded(GuardedCall *call, PlugInEntry entry, const char *src, const char *dst,
                                           int *status)
{
    // The record lives in this frame, below every frame it outlives.
    volatile HandlerRecord record;
    call->outer = ChainHead();
    record.next = call->outer;
    record.handler = (void *)PlugInFaultHandler;
    if (__builtin_setjmp(call->resume))
        return 0;
    SetChainHead((HandlerRecord *)&record);
    *status = entry(src, dst);
    SetChainHead(call->outer);
    return 1;
}
#else
// No handler chain to hook elsewhere: the plug-in is called as it is.
int EnterGuarded(GuardedCall *, PlugInEntry entry, const char *src, const char *dst, int *status)
{
    *status = entry(src, dst);
    return 1;
}
#endif

} // namespace

int CallPlugInGuarded(PlugInEntry entry, const char *src, const char *dst, int *status, PlugInFault *fault)
{
    GuardedCall call;
    call.fault.code = 0;
    call.fault.address = nullptr;
    GuardedCall *previous = g_call;
    g_call = &call;
    int returned = EnterGuarded(&call, entry, src, dst, status);
    g_call = previous;
    *fault = call.fault;
    return returned;
}
