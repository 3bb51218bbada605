#include "files/same_file.h"

#include <sys/stat.h>

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<FileClash> findClash(const std::vector<std::string>& outputs,
                                   const std::vector<std::string>& inputs) {
    for (const std::string& output : outputs)
        for (const std::string& input : inputs)
            if (sameFile(output, input))
                return FileClash{output, input};
    return std::nullopt;
}

std::string clashMessage(const FileClash& clash) {
    return clash.output + " is the same file as the input " + clash.input +
           ": choose another name for the output";
}
