#pragma once

#include <string>

// `text` with each byte that is not part of a well-formed UTF-8 sequence
// replaced by '?': a name read from a file (a track's camera name) may hold
// any bytes, and glTF's JSON and a Python script hold UTF-8 only.
std::string utf8Text(const std::string& text);
