#include "track/track_result.h"

TrackResult trackResultOf(const FileResult& written) {
    switch (written.status) {
        case FileStatus::Done:
            break;
        case FileStatus::CannotCreate:
            return {TrackFailure::CannotCreate, written.error};
        case FileStatus::CannotWrite:
            return {TrackFailure::CannotWrite, written.error};
        case FileStatus::CannotReplace:
            return {TrackFailure::CannotReplace, written.error};
    }
    return {};
}

TrackResult trackResultOf(const InputProblem& problem) {
    TrackResult failed(TrackFailure::InputFailed);
    failed.input = problem;
    return failed;
}
