// Exception records, the x64 thread context and access rights.
#pragma once

#include <minwindef.h>

constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;
constexpr DWORD EXCEPTION_NONCONTINUABLE = 0x1;

struct EXCEPTION_RECORD
{
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD* ExceptionRecord;
    PVOID ExceptionAddress;
    DWORD NumberParameters;
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};
typedef EXCEPTION_RECORD* PEXCEPTION_RECORD;

// Status values that exceptions and debuggers use.
constexpr DWORD STATUS_WAIT_0 = 0x00000000;
constexpr DWORD STATUS_TIMEOUT = 0x00000102;
constexpr DWORD STATUS_PENDING = 0x00000103;
constexpr DWORD DBG_CONTINUE = 0x00010002;
constexpr DWORD DBG_PRINTEXCEPTION_C = 0x40010006;
constexpr DWORD DBG_PRINTEXCEPTION_WIDE_C = 0x4001000A;
constexpr DWORD STATUS_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr DWORD STATUS_BREAKPOINT = 0x80000003;
constexpr DWORD STATUS_SINGLE_STEP = 0x80000004;
constexpr DWORD DBG_EXCEPTION_NOT_HANDLED = 0x80010001;
constexpr DWORD STATUS_ACCESS_VIOLATION = 0xC0000005;
constexpr DWORD STATUS_IN_PAGE_ERROR = 0xC0000006;
constexpr DWORD STATUS_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr DWORD STATUS_FLOAT_DENORMAL_OPERAND = 0xC000008D;
constexpr DWORD STATUS_FLOAT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr DWORD STATUS_FLOAT_INEXACT_RESULT = 0xC000008F;
constexpr DWORD STATUS_FLOAT_INVALID_OPERATION = 0xC0000090;
constexpr DWORD STATUS_FLOAT_OVERFLOW = 0xC0000091;
constexpr DWORD STATUS_FLOAT_STACK_CHECK = 0xC0000092;
constexpr DWORD STATUS_FLOAT_UNDERFLOW = 0xC0000093;
constexpr DWORD STATUS_INTEGER_DIVIDE_BY_ZERO = 0xC0000094;
constexpr DWORD STATUS_INTEGER_OVERFLOW = 0xC0000095;
constexpr DWORD STATUS_PRIVILEGED_INSTRUCTION = 0xC0000096;
constexpr DWORD STATUS_STACK_BUFFER_OVERRUN = 0xC0000409;
// The exit status of a process that a console control event (Ctrl-C) ended.
constexpr DWORD STATUS_CONTROL_C_EXIT = 0xC000013A;

// Access rights. This platform grants what the caller may do by the
// system's own rules; the masks are accepted and not enforced.
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD PROCESS_TERMINATE = 0x0001;
constexpr DWORD PROCESS_VM_READ = 0x0010;
constexpr DWORD PROCESS_DUP_HANDLE = 0x0040;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD PROCESS_ALL_ACCESS = 0x001FFFFF;
constexpr DWORD THREAD_SUSPEND_RESUME = 0x0002;
constexpr DWORD THREAD_GET_CONTEXT = 0x0008;
constexpr DWORD THREAD_QUERY_INFORMATION = 0x0040;
constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFF;
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// The x64 thread context.
struct alignas(16) M128A
{
    ULONGLONG Low;
    LONGLONG High;
};

struct alignas(16) XMM_SAVE_AREA32
{
    WORD ControlWord;
    WORD StatusWord;
    BYTE TagWord;
    BYTE Reserved1;
    WORD ErrorOpcode;
    DWORD ErrorOffset;
    WORD ErrorSelector;
    WORD Reserved2;
    DWORD DataOffset;
    WORD DataSelector;
    WORD Reserved3;
    DWORD MxCsr;
    DWORD MxCsr_Mask;
    M128A FloatRegisters[8];
    M128A XmmRegisters[16];
    BYTE Reserved4[96];
};

constexpr DWORD CONTEXT_AMD64 = 0x00100000;
constexpr DWORD CONTEXT_CONTROL = CONTEXT_AMD64 | 0x1;
constexpr DWORD CONTEXT_INTEGER = CONTEXT_AMD64 | 0x2;
constexpr DWORD CONTEXT_SEGMENTS = CONTEXT_AMD64 | 0x4;
constexpr DWORD CONTEXT_FLOATING_POINT = CONTEXT_AMD64 | 0x8;
constexpr DWORD CONTEXT_DEBUG_REGISTERS = CONTEXT_AMD64 | 0x10;
constexpr DWORD CONTEXT_FULL = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_FLOATING_POINT;
constexpr DWORD CONTEXT_ALL =
    CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS | CONTEXT_FLOATING_POINT | CONTEXT_DEBUG_REGISTERS;

struct alignas(16) CONTEXT
{
    DWORD64 P1Home, P2Home, P3Home, P4Home, P5Home, P6Home;
    DWORD ContextFlags;
    DWORD MxCsr;
    WORD SegCs, SegDs, SegEs, SegFs, SegGs, SegSs;
    DWORD EFlags;
    DWORD64 Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
    DWORD64 Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
    DWORD64 R8, R9, R10, R11, R12, R13, R14, R15;
    DWORD64 Rip;
    XMM_SAVE_AREA32 FltSave;
    M128A VectorRegister[26];
    DWORD64 VectorControl;
    DWORD64 DebugControl;
    DWORD64 LastBranchToRip;
    DWORD64 LastBranchFromRip;
    DWORD64 LastExceptionToRip;
    DWORD64 LastExceptionFromRip;
};
typedef CONTEXT* PCONTEXT;
typedef CONTEXT* LPCONTEXT;
static_assert(sizeof(XMM_SAVE_AREA32) == 512);
static_assert(sizeof(CONTEXT) == 1232 && offsetof(CONTEXT, Rip) == 248 && offsetof(CONTEXT, FltSave) == 256);

struct EXCEPTION_POINTERS
{
    PEXCEPTION_RECORD ExceptionRecord;
    PCONTEXT ContextRecord;
};
typedef EXCEPTION_POINTERS* PEXCEPTION_POINTERS;
