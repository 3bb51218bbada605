#pragma once

#include <string>
#include <vector>

#include "layout/layout_records.h"

// The layout as CSV: a header, then a line per linked marker: its index, its
// pattern file, its width, the frames that saw it, its uncertainty (degrees,
// and the widths' unit) and its pose relative to the first marker row by row
// (r00, r01, r02, t0, r10 ... t2).
std::string formatLayout(const MarkerLayout& layout, const std::vector<std::string>& patterns);

// Writes it through a temporary file that replaces `path` only once complete.
LayoutResult writeLayout(const std::string& path, const MarkerLayout& layout,
                         const std::vector<std::string>& patterns);

// Reads a layout file for markers of `widths` (the command line's, marker 0
// first): CannotRead, BadFile (with the line), WrongMarkers when a line's
// index is not one of them or its width is not theirs (to 1e-6 of it), or
// marker 0 is missing. Markers without a line stay unlinked. With no
// widths given, any marker below SET_MARKER_MAX is taken at its own width.
// `patterns`, when given, receives each marker's pattern file ("" for none).
LayoutResult readLayout(const std::string& path, const std::vector<double>& widths,
                        MarkerLayout& layout, std::vector<std::string>* patterns = nullptr);
