#pragma once

#include <string>
#include <utility>

#include "files/replace_file.h"
#include "media/frame_source.h"

// Why a step of the track failed.
enum class TrackFailure {
    None,
    // Setting the tracker up.
    CameraUnreadable,   // the camera file cannot be loaded (`what` says why)
    CameraUnusable,     // resized to the frames, its values are no longer finite
    PatternMissing,     // the pattern file cannot be opened
    PatternUnreadable,  // the pattern file holds no pattern
    OutOfMemory,        // storage cannot be allocated
    // Tracking.
    TooLong,         // the input has more frames than the key table holds
    TableFull,       // the key table already holds KEY_TABLE_SIZE rows; nothing appended
    WrongFrameSize,  // a frame not of the tracker's size; nothing appended
    InputFailed,     // the frame source failed: `input` says why
    LibraryFailed,   // a library the step called failed (`what` says how)
    // Files.
    CannotCreate,   // a file's temporary could not be made beside it (`error`)
    CannotWrite,    // writing, flushing or closing it failed (`error`)
    CannotReplace,  // it could not be renamed over the file (`error`)
    CannotRead,     // a file cannot be opened or read (`error`)
    Malformed,      // a file is not what it should be (`line`, `what`)
    OtherTrack,     // a plate file belongs to another track
};

// The track's one result: every call in track/ that can fail returns one.
struct TrackResult {
    TrackResult() = default;
    TrackResult(TrackFailure failure, int error = 0, std::string what = "")
        : failure(failure), error(error), what(std::move(what)) {}

    TrackFailure failure = TrackFailure::None;
    int error = 0;       // the errno of the call that failed, where a file is involved
    long long line = 0;  // Malformed: the line at fault, from 1
    std::string what;    // what is wrong, where no errno says it
    InputProblem input;  // InputFailed: what the frame source said
    bool ok() const { return failure == TrackFailure::None; }
};

// The frame source's failure as the track's result.
TrackResult trackResultOf(const InputProblem& problem);

// A file replaced (files/) as the track's result.
TrackResult trackResultOf(const FileResult& written);
