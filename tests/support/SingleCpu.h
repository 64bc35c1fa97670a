// Keeps the calling thread on one of its CPUs while it lives, and gives it
// back the CPUs it had. Threads started meanwhile keep the one CPU: libx264
// started so runs one thread, and its rate control (which, frame-parallel,
// reads how far the other threads' frames have got) no longer depends on
// timing, so that the same frames make the same video, to the bit.
#pragma once

#include <sched.h>

#include <gtest/gtest.h>

class SingleCpu
{
public:
    SingleCpu()
    {
        m_Pinned = sched_getaffinity(0, sizeof m_Allowed, &m_Allowed) == 0;
        int First = 0;
        while (m_Pinned && First < CPU_SETSIZE && !CPU_ISSET(First, &m_Allowed))
            ++First;
        cpu_set_t One;
        CPU_ZERO(&One);
        CPU_SET(First, &One);
        m_Pinned = m_Pinned && First < CPU_SETSIZE && sched_setaffinity(0, sizeof One, &One) == 0;
        EXPECT_TRUE(m_Pinned);
    }
    ~SingleCpu()
    {
        if (m_Pinned)
            sched_setaffinity(0, sizeof m_Allowed, &m_Allowed);
    }
    SingleCpu(const SingleCpu&) = delete;
    SingleCpu& operator=(const SingleCpu&) = delete;

private:
    cpu_set_t m_Allowed;
    bool m_Pinned = false;
};
