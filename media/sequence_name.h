#pragma once

#include <string>
#include <vector>

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

// True when `name`'s file name holds exactly one such field ("%%" is a
// literal '%'); `pattern` then describes it.
bool parseSequencePattern(const std::string& name, SequencePattern& pattern);

// The name of the sequence's file numbered `number` (from 0).
std::string sequenceFileName(const SequencePattern& pattern, long long number);

// The numbers of the pattern's files in its folder, ascending: the names
// that printing a number into the pattern gives, up to 18 digits. 0, or the
// errno of opening the folder.
int listSequence(const SequencePattern& pattern, std::vector<long long>& numbers);
