#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

#include <winbase.h>

ULONGLONG GetTickCount64()
{
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return static_cast<ULONGLONG>(Now.tv_sec) * 1000u + static_cast<ULONGLONG>(Now.tv_nsec) / 1000000u;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void Sleep(DWORD Milliseconds)
{
    timespec Remaining{static_cast<time_t>(Milliseconds / 1000), static_cast<long>(Milliseconds % 1000) * 1000000L};
    while (nanosleep(&Remaining, &Remaining) == -1 && errno == EINTR)
    {}
}

int MulDiv(int Number, int Numerator, int Denominator)
{
    if (Denominator == 0)
        return -1;
    int64_t Product = static_cast<int64_t>(Number) * Numerator;
    int64_t Divisor = Denominator;
    if (Divisor < 0)
        Product = -Product, Divisor = -Divisor;
    // Round halves away from zero.
    const int64_t Half = Divisor / 2;
    const int64_t Result = (Product >= 0 ? Product + Half : Product - Half) / Divisor;
    if (Result > INT_MAX || Result < -INT_MAX)
        return -1;
    return static_cast<int>(Result);
}
