#pragma once

#include <cstdio>
#include <functional>
#include <string>

// How replacing a file ended. Every output of Lumeko and its tools goes
// through replaceFile: a temporary file in the output's own folder is
// written, flushed to the disk and renamed over the output, so a failure at
// any step leaves an earlier file byte for byte as it was.
enum class FileStatus {
    Done,
    CannotCreate,   // the temporary file could not be made beside the output
    CannotWrite,    // writing, flushing or closing it failed
    CannotReplace,  // it could not be renamed over the output
};

// The step that failed and the errno of the call that failed there (EIO when
// a write failed without one), taken before anything was cleaned up.
struct FileResult {
    FileStatus status = FileStatus::Done;
    int error = 0;
    bool ok() const { return status == FileStatus::Done; }
};

// Writes `path` through `write`, which gets the open temporary file and
// returns false when it could not produce the contents (errno, if set, is
// kept as the reason). The new file gets the permissions opening `path` by
// name for writing would have given: an existing file's own, else those the
// process's umask leaves of 0666. The umask is never changed. A device or a
// pipe (/dev/null, a FIFO) is written as it is: there is no earlier file to
// keep, and renaming over it would remove it.
FileResult replaceFile(const std::string& path, const std::function<bool(std::FILE*)>& write);

// The same for writers that open a file by name themselves (a muxer, a
// library's save call): `write` gets the temporary file's name, which ends
// in the same extension as `path` so that writers choosing a format by the
// name choose the same one.
FileResult replaceFileNamed(const std::string& path,
                            const std::function<bool(const std::string&)>& write);

// The temporary file's name pattern beside `path`: `path`, a dot, six random
// characters and `path`'s extension (for example "out.mp4.Xa81qZ.mp4").
std::string temporaryNameBeside(const std::string& path, const std::string& random);
