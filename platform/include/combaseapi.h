// Task memory: what COM methods hand to their callers to free.
#pragma once

#include <cstddef>

void* CoTaskMemAlloc(size_t Size);
void CoTaskMemFree(void* Memory);
