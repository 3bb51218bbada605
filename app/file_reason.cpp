#include "app/file_reason.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

long long fileSize(const char* path) {
    struct stat status {};
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return status.st_size;
}

std::string outputProblem(const char* name, const char* folder) {
    struct stat status {};
    if (stat(name, &status) == 0 && S_ISDIR(status.st_mode))
        return "Is a folder, not a file";
    const std::string pattern = std::string(name) + ".XXXXXX";
    std::string probe = pattern;
    const int descriptor = mkstemp(probe.data());
    if (descriptor < 0)
        return std::string(folder) + " can not be written: " + std::strerror(errno);
    close(descriptor);
    unlink(probe.c_str());
    return "";
}
