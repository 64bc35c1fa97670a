// Signals as the exceptions that a debugger sees.

#include <csignal>

#include <gtest/gtest.h>

#include <windows.h>

#include "Ptrace/Event.h"
#include "Win32/Debugger.h"

TEST(ExceptionFromSignal, FaultsBecomeTheirWindowsCodes)
{
    siginfo_t Info = {};
    EXCEPTION_RECORD Record;
    Info.si_signo = SIGSEGV;
    Info.si_addr = reinterpret_cast<void*>(0x10);
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(Record.NumberParameters, 2u);
    EXPECT_EQ(Record.ExceptionInformation[1], 0x10u);
    Info.si_signo = SIGFPE;
    Info.si_code = FPE_INTDIV;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_INT_DIVIDE_BY_ZERO);
    Info.si_signo = SIGILL;
    Info.si_code = ILL_ILLOPC;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_ILLEGAL_INSTRUCTION);
    Info.si_signo = SIGTRAP;
    Info.si_code = SI_KERNEL;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_BREAKPOINT);
    Info.si_signo = SIGABRT;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), STATUS_STACK_BUFFER_OVERRUN);
    EXPECT_EQ(Record.ExceptionFlags, EXCEPTION_NONCONTINUABLE);
    // The back end reports exactly the signals that have a code here.
    for (int Signal = 1; Signal < 65; ++Signal)
    {
        Info = {};
        Info.si_signo = Signal;
        EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record) != 0, Ptrace::IsFaultSignal(Signal)) << Signal;
    }
}
