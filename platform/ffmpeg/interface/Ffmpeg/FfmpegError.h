// How the FFmpeg writer reports a failure: what went wrong, in its own
// terms, with the system's errno where the system refused.
#pragma once

#include <cstdint>

namespace Platform {

struct FfmpegError
{
    enum class Kind : uint8_t
    {
        None, // no failure
        // The caller's side.
        InvalidRequest,  // a call out of order, or after a failure ended the writing
        InvalidArgument, // a value that cannot be (FFmpeg's EINVAL too)
        NotInitialized,  // the part asked was never opened
        // The video.
        UnsupportedContainer, // no container for the path's extension
        InvalidSettings,      // a stream that cannot be, or that no encoder takes
        StreamsFixed,         // a second stream
        NoStreams,            // writing begun without a stream
        NoFrames,             // finalized without a frame
        InvalidTimestamp,     // a frame time that does not advance
        EncoderNotFound,
        EncoderRefused, // no reason given (libx264 refuses so also when an allocation failed)
        InvalidData,    // FFmpeg found its input corrupt
        // FFmpeg's side.
        OutOfMemory,
        EncoderFailed,  // an encoder library's generic error (libx264 reports a failed allocation so)
        EndOfStream,    // FFmpeg's end of file, where none can be
        InternalError,  // FFmpeg's own fault
        NotImplemented, // FFmpeg lacks the feature
        Unknown,        // any other FFmpeg error
        // The output path and the system: Code holds the errno.
        TargetIsFolder, // a folder stands at the output path
        TargetNotFile,  // something other than a regular file stands there (a FIFO, a device)
        System,         // while FFmpeg worked
        FileCreation,   // while the path was checked or the new file made or named
        FileWrite,      // while the file was written, synced or put in place
        // A frame source's own failure (Code), passed back as it came.
        FrameSource,
    };

    Kind What = Kind::None;
    int Code = 0;

    constexpr FfmpegError() = default;
    constexpr FfmpegError(Kind Reason, int Value = 0) : What(Reason), Code(Value) {}

    constexpr bool Failed() const { return What != Kind::None; }
    friend constexpr bool operator==(const FfmpegError&, const FfmpegError&) = default;
};

} // namespace Platform
