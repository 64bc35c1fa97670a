// The process entry: the trace provider, the arguments and the run modes.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include <windows.h>

#include <dxgi1_3.h>
#include <wrl/client.h>

#include "Application.h"
#include "Explanation.h"
#include "Format.h"
#include "RoInitializeWrapper.h"

#include "diagnostics/Check.h"
#include "diagnostics/ParentProcessDebug.h"
#include "diagnostics/TraceProvider.h"

namespace {

// A failure that leaves main has been traced where it happened; end the
// process with a short note instead of an abort.
[[noreturn]] void EndOnUncaughtException()
{
    try
    {
        if (std::current_exception())
            std::rethrow_exception(std::current_exception());
        std::fputs("Ostrel: terminated\n", stderr);
    }
    catch (const ComException& Exception)
    {
        std::fprintf(stderr, "Ostrel: failed with 0x%08X\n", static_cast<unsigned>(Exception.m_Result));
        PrintCommandLineProblem();
    }
    catch (long Result)
    {
        // The self-debugging code fails with bare HRESULTs.
        std::fprintf(stderr, "Ostrel: failed with 0x%08X\n", static_cast<unsigned>(Result));
    }
    catch (const std::exception& Exception)
    {
        std::fprintf(stderr, "Ostrel: failed: %s\n", Exception.what());
    }
    catch (...)
    {
        std::fputs("Ostrel: failed with an unknown exception\n", stderr);
    }
    std::fflush(stdout);
    std::_Exit(EXIT_FAILURE);
}

enum class Mode
{
    Encode,
    Syntax,
    EnumerateAdapters,
    Version,
};

// The first argument, the program path included, that names a mode decides.
Mode FindMode(const Arguments& Arguments)
{
    std::wstring Name, Value;
    for (const std::wstring& Argument : Arguments)
    {
        Name.clear();
        Value.clear();
        if (!ParseOption(Argument, Name, Value))
            continue;
        // Beside its own names, the syntax answers the ones that users of
        // other tools type first: -h, -help and --help.
        if (_wcsicmp(Name.c_str(), L"Syntax") == 0 || _wcsicmp(Name.c_str(), L"?") == 0 ||
            _wcsicmp(Name.c_str(), L"h") == 0 || _wcsicmp(Name.c_str(), L"help") == 0 ||
            _wcsicmp(Name.c_str(), L"-help") == 0)
            return Mode::Syntax;
        if (_wcsicmp(Name.c_str(), L"Version") == 0 || _wcsicmp(Name.c_str(), L"-version") == 0)
            return Mode::Version;
        if (_wcsicmp(Name.c_str(), L"EnumerateAdapters") == 0 || _wcsicmp(Name.c_str(), L"ea") == 0)
            return Mode::EnumerateAdapters;
    }
    return Mode::Encode;
}

} // namespace

int main()
{
    std::set_terminate(EndOnUncaughtException);
    RegisterTraceProvider();

    Arguments Arguments;
    int ArgumentCount = 0;
    if (LPWSTR* Vector = CommandLineToArgvW(GetCommandLineW(), &ArgumentCount))
    {
        Arguments.reserve(static_cast<size_t>(ArgumentCount));
        for (int Index = 0; Index < ArgumentCount; ++Index)
            Arguments.emplace_back(Vector[Index]);
        LocalFree(Vector);
    }

    // The debugging child does its work here and nothing else.
    if (ParentProcessDebug::RunChild(Arguments, ConfigureParentProcessDebug))
        return 0;
    ParentProcessDebug::Enable(Arguments);

    // A failed run exits 1 after its failure line; a run that Ctrl-C or its
    // kin stopped ends the way the event would have ended it.
    UINT ExitCode = EXIT_SUCCESS;
    {
        RoInitializeWrapper RoInitializeWrapper(RO_INIT_MULTITHREADED);
        CheckResult(RoInitializeWrapper);
        switch (FindMode(Arguments))
        {
        case Mode::Syntax: PrintSyntax(); break;
        case Mode::Version: PrintVersion(); break;
        case Mode::EnumerateAdapters:
        {
            // One line per adapter, in enumeration order. Failures leave main
            // uncaught, traced with its name.
            const UINT DxgiFactoryDebugFlag = 0;
            Microsoft::WRL::ComPtr<IDXGIFactory> DxgiFactory;
            CheckResult(CreateDXGIFactory2(DxgiFactoryDebugFlag, IID_PPV_ARGS(DxgiFactory.GetAddressOf())));
            bool HasAdapter = false;
            for (UINT Index = 0;; ++Index)
            {
                Microsoft::WRL::ComPtr<IDXGIAdapter> DxgiAdapter;
                const HRESULT Result = DxgiFactory->EnumAdapters(Index, DxgiAdapter.GetAddressOf());
                if (Result == DXGI_ERROR_NOT_FOUND)
                    break;
                HasAdapter = true;
                CheckResult(Result);
                Microsoft::WRL::ComPtr<IDXGIAdapter1> DxgiAdapter1;
                CheckResult(DxgiAdapter.As(&DxgiAdapter1));
                DXGI_ADAPTER_DESC1 DxgiAdapterDesc;
                CheckResult(DxgiAdapter1->GetDesc1(&DxgiAdapterDesc));
                std::vector<std::string> Fields;
                Fields.push_back(Format("%ls", DxgiAdapterDesc.Description));
                Fields.push_back(Format("Vendor 0x%04X", DxgiAdapterDesc.VendorId));
                Fields.push_back(Format("Adapter %d.%08X", DxgiAdapterDesc.AdapterLuid.HighPart,
                                        DxgiAdapterDesc.AdapterLuid.LowPart));
                if (DxgiAdapterDesc.Flags)
                    Fields.push_back(Format("Flags 0x%X", DxgiAdapterDesc.Flags));
                std::string Line;
                for (const std::string& Field : Fields)
                    Line += (Line.empty() ? "" : ", ") + Field;
                PrintLine(Format("%d: %hs", static_cast<int>(Index), Line.c_str()));
            }
            if (!HasAdapter)
            {
                std::fprintf(stderr, "Ostrel: %s\n", NoAdapterWords);
                std::fflush(stderr);
            }
            break;
        }
        case Mode::Encode:
        {
            Application Application(Arguments);
            const HRESULT Result = Application.Do();
            if (Result == HRESULT_FROM_WIN32(ERROR_CANCELLED))
                ExitCode = STATUS_CONTROL_C_EXIT;
            else if (FAILED(Result))
                ExitCode = EXIT_FAILURE;
            UnregisterTraceProvider();
            break;
        }
        }
    }
    // A line that standard output lost (a full disk, say) is a
    // failed run, even where the video itself was written whole.
    if (!FinishStandardOutput() && ExitCode == EXIT_SUCCESS)
        ExitCode = EXIT_FAILURE;
    if (ExitCode == STATUS_CONTROL_C_EXIT)
        ExitProcess(ExitCode);
    return static_cast<int>(ExitCode);
}
