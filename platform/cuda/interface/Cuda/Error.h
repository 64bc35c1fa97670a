// A failed CUDA call: which call, and what the driver answered.
#pragma once

#include <string>

#include "Driver.h"

namespace Platform::Cuda {

struct Error
{
    const char* m_Call = nullptr; // null: no failure
    CUresult m_Result = CUDA_SUCCESS;

    bool Failed() const { return m_Call != nullptr; }
    // "cuImportExternalMemory: CUDA_ERROR_NOT_SUPPORTED" (the number where
    // the driver has no name for it).
    std::string Text(const Driver* With) const;
};

// Success, or the failure of Call.
inline Error Check(const char* Call, CUresult Result) { return Result == CUDA_SUCCESS ? Error{} : Error{Call, Result}; }

} // namespace Platform::Cuda

// Returns the Error of a failed CUDA call from the enclosing function.
#define CUDA_RETURN_IF_FAILED(Call, Expression)                                                  \
    do                                                                                           \
    {                                                                                            \
        const ::Platform::Cuda::Error CudaFailure = ::Platform::Cuda::Check(Call, (Expression)); \
        if (CudaFailure.Failed())                                                                \
            return CudaFailure;                                                                  \
    } while (0)
