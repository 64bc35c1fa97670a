// A forked child that does what it is told through a pipe, for tests that
// debug a process: each command byte is handed to the child's function and
// echoed once done. The child answers 'r' when ready, and dies with the test.
#pragma once

#include <cstdlib>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class CommandedChild
{
public:
    // Setup runs first in the child, given the reply pipe; Serve runs for
    // each command.
    explicit CommandedChild(void (*Serve)(char Command), void (*Setup)(int Replies) = nullptr)
    {
        int Commands[2], Replies[2];
        if (pipe(Commands) != 0 || pipe(Replies) != 0)
            std::abort();
        m_Id = fork();
        if (m_Id == 0)
        {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(Commands[1]);
            close(Replies[0]);
            if (Setup)
                Setup(Replies[1]);
            (void)!write(Replies[1], "r", 1);
            for (char Command; read(Commands[0], &Command, 1) == 1;)
            {
                Serve(Command);
                (void)!write(Replies[1], &Command, 1);
            }
            _exit(0);
        }
        close(Commands[0]);
        close(Replies[1]);
        m_Commands = Commands[1];
        m_Replies = Replies[0];
        if (Reply() != 'r')
            std::abort();
    }
    ~CommandedChild()
    {
        kill(m_Id, SIGKILL);
        waitpid(m_Id, nullptr, __WALL);
        close(m_Commands);
        close(m_Replies);
    }
    CommandedChild(const CommandedChild&) = delete;
    CommandedChild& operator=(const CommandedChild&) = delete;

    pid_t Id() const { return m_Id; }
    bool Send(char Command) const { return write(m_Commands, &Command, 1) == 1; }
    // Whether a reply waits, and the next reply ('\0' at the end).
    bool Replied() const
    {
        pollfd Ready = {m_Replies, POLLIN, 0};
        return poll(&Ready, 1, 0) == 1;
    }
    char Reply() const
    {
        char Byte = 0;
        return read(m_Replies, &Byte, 1) == 1 ? Byte : '\0';
    }

private:
    pid_t m_Id = 0;
    int m_Commands = -1;
    int m_Replies = -1;
};
