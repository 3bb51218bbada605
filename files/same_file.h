#pragma once

#include <optional>
#include <string>
#include <vector>

// Whether `a` and `b` name one existing file: the same device and inode,
// whatever the spelling (./shot.avi, ../dir/shot.avi), symbolic link or hard
// link. False when either does not exist.
bool sameFile(const std::string& a, const std::string& b);

// An output that would be written over one of the inputs.
struct FileClash {
    std::string output;
    std::string input;
};

// The first output (in the order given) that is the same file as one of
// `inputs`, if any; checked before any work so that nothing is written.
std::optional<FileClash> findClash(const std::vector<std::string>& outputs,
                                   const std::vector<std::string>& inputs);

// The one line every program prints for a clash, without a newline:
// "<output> is the same file as the input <input>: choose another name for the output".
std::string clashMessage(const FileClash& clash);
