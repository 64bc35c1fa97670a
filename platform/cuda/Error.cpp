#include "Cuda/Error.h"

namespace Platform::Cuda {

std::string Error::Text(const Driver* With) const
{
    if (!m_Call)
        return "success";
    const char* Name = nullptr;
    if (!With || !With->GetErrorName || With->GetErrorName(m_Result, &Name) != CUDA_SUCCESS || !Name)
        return std::string(m_Call) + ": error " + std::to_string(m_Result);
    return std::string(m_Call) + ": " + Name;
}

} // namespace Platform::Cuda
