#pragma once

#include <optional>
#include <string>
#include <vector>

#include "media/frame_source.h"

// A numbered picture sequence named by a pattern: in the file name (after
// the last '/'), a printf field ("%04d", "%4d", "%d") or a run of hashes
// ("####", one a digit) stands for the frame number, written with at least
// that many digits, zero-padded ("%d" and "#": as many as the number needs).

struct SequencePattern {
    std::string folder;  // the part up to and including the last '/'; "" for the working folder
    std::string prefix;  // the file name before the number
    std::string suffix;  // and after it
    int digits = 1;      // the fewest digits a number is written with
};

// The pattern `name` describes when its file name holds exactly one such
// field ("%%" is a literal '%'); none otherwise.
std::optional<SequencePattern> parseSequencePattern(const std::string& name);

// The name of the sequence's file numbered `number` (from 0).
std::string sequenceFileName(const SequencePattern& pattern, long long number);

// The numbers of the pattern's files in its folder, ascending: the names
// that printing a number into the pattern gives, up to 18 digits; or why the
// folder cannot be read (CannotOpen, the folder and the errno of opening it).
struct SequenceListing {
    std::vector<long long> numbers;
    InputProblem problem;
};
SequenceListing listSequence(const SequencePattern& pattern);
