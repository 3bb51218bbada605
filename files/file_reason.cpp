#include "files/file_reason.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/replace_file.h"

std::string fileReadProblem(const char* path) {
    const int descriptor = open(path, O_RDONLY);
    if (descriptor < 0)
        return std::strerror(errno);
    struct stat status {};
    const bool known = fstat(descriptor, &status) == 0;
    const int statError = errno;
    close(descriptor);
    if (!known)
        return std::strerror(statError);
    if (S_ISDIR(status.st_mode))
        return "Is a folder, not a file";
    if (S_ISREG(status.st_mode) && status.st_size == 0)
        return "Is empty";
    return "";
}

std::string outputProblem(const char* name, const char* folder) {
    struct stat status {};
    if (stat(name, &status) == 0 && S_ISDIR(status.st_mode))
        return "Is a folder, not a file";
    if (stat(name, &status) == 0 && !S_ISREG(status.st_mode))
        return "";  // a device or a pipe, written as it is
    // The file replaceFile would make first, made and removed.
    const FileResult probe = replaceFileNamed(std::string(name) + ".probe", [](const std::string&) {
        errno = ECANCELED;
        return false;
    });
    if (probe.status == FileStatus::CannotCreate)
        return std::string(folder) + " can not be written: " + std::strerror(probe.error);
    return "";
}
