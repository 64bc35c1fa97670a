// The video file while it is written: a new file in the target's folder, which
// takes the target's place in one step once it is complete, and vanishes
// otherwise. The target is never opened, so a failed or stopped run leaves it
// exactly as it was, and nothing can block on it.
//
// The new file is unnamed where the file system offers that (O_TMPFILE) and
// the kernel lets it be named later, so that not even a killed process leaves
// it behind; elsewhere it is a hidden, uniquely named file beside the target. A symbolic link at the target is
// followed: the file it names is replaced and the link stays.
//
// What a plain open for writing would refuse is refused (EACCES),
// with nothing changed: a file the caller may not write; in a shared folder
// (sticky and writable by all, such as /tmp) a link or a file owned by
// neither the caller nor the folder's owner, at any hop of a chain of links.
#pragma once

#include <string>

#include "Ffmpeg/FfmpegError.h"

struct AVIOContext;

namespace Platform {

class FfmpegOutputFile
{
public:
    // PreferUnnamed false: a hidden file from the start, as on file systems
    // that have no unnamed files.
    explicit FfmpegOutputFile(bool PreferUnnamed = true) : m_PreferUnnamed(PreferUnnamed) {}
    FfmpegOutputFile(const FfmpegOutputFile&) = delete;
    FfmpegOutputFile& operator=(const FfmpegOutputFile&) = delete;
    // Discards a file that was not committed.
    ~FfmpegOutputFile();

    // Whether a video can be written at Path: its folder exists and takes new
    // files, and Path is absent, a regular file or a link to one, as above. Creates
    // nothing. Failures are FileCreation with the errno (ENOENT for a missing
    // folder, ENOTDIR for something else in its place, ELOOP for a loop of
    // links), TargetIsFolder for a folder at Path, TargetNotFile for anything
    // else that is not a regular file (a FIFO, a device, a socket).
    static FfmpegError Check(const std::string& Path);

    // Makes the new file and the FFmpeg I/O context that writes and seeks in
    // it. The file gets the permissions a plain create would give it: those of
    // the file it replaces (its owner too where the caller may give it, but
    // never its setuid and setgid bits), or 0666 less the umask.
    FfmpegError Create(const std::string& Path);
    AVIOContext* Io() const { return m_Io; }

    // Flushes what the I/O context holds, syncs the file to disk, puts it in
    // the target's place and syncs the folder. After a failure the target is
    // as it was and the new file is gone.
    FfmpegError Commit();
    // Drops the new file.
    void Discard();

private:
    bool UnnamedFilesLink() const;
    FfmpegError Name(std::string& Hidden) const;
    FfmpegError RandomHiddenName(std::string& Hidden) const;
    FfmpegError CreateHidden(std::string& Hidden, int& Fd) const;
    void KeepOwnerAndMode(int Fd) const;
    void Close();

    const bool m_PreferUnnamed;
    std::string m_Name;      // the target's name in its folder
    int m_Folder = -1;       // the target's folder
    int m_Fd = -1;           // the new file
    std::string m_Hidden;    // its name, when it has one
    bool m_Replaces = false; // a file stands at the target: keep its owner and mode
    unsigned m_Mode = 0;
    unsigned m_Owner = 0;
    unsigned m_Group = 0;
    AVIOContext* m_Io = nullptr;
};

} // namespace Platform
