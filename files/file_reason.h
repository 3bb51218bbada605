#pragma once

#include <string>

// Why `path` cannot be read as a file, in the operating system's words where
// it has them: "No such file or directory", "Permission denied", "Is a
// folder, not a file", "Is empty". Empty when the file opens and holds at
// least one byte (then only its contents can be wrong).
std::string fileReadProblem(const char* path);

// Why the folder of `name` cannot take the file (written as a temporary
// file beside it, then renamed over it): tried by creating and removing such
// a temporary file, in the operating system's words, or "Is a folder" when
// `name` is one; `folder` names the folder in the message. Empty when it can.
std::string outputProblem(const char* name, const char* folder = "The working folder");
