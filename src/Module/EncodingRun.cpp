// The encoding run.

#include "Module.h"

#include "diagnostics/Check.h"

void Application::Do()
{
    if (m_OutputPath.empty())
    {
        PrintSyntax();
        return;
    }
    try
    {
        // Rendering and encoding are not part of this build yet.
        CheckResult(E_NOTIMPL);
    }
    catch (const ComException& Exception)
    {
        PrintLine(Format("Exception: 0x%08X", Exception.m_Result));
    }
    catch (...)
    {
        PrintLine("Exception");
    }
}
