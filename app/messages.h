#pragma once

// Every text the run prints, in one place. Formats take the file name where
// they have a conversion.

// Failures (error stream), each followed by the pause and status 1.
inline constexpr const char* MSG_CAN_NOT_OPEN_FILE = "can not open %s\n";
inline constexpr const char* MSG_CAN_NOT_CLOSE_FILE = "can not close %s\n";
inline constexpr const char* MSG_CAN_NOT_MALLOC = "can not malloc\n";
inline constexpr const char* MSG_CAN_NOT_LOAD_CAMERA = "can not load camera parameter <%s>\n";
// The second line after it: the file name and why (no such file, too short,
// a record that cannot be a camera, values that overflow when resized).
inline constexpr const char* MSG_CAMERA_REASON = "%s: %s\n";
inline constexpr const char* MSG_CAMERA_RESIZE_REASON =
    "%s: resized to the %d x %d frame, its values or its lens map are no longer finite\n";
inline constexpr const char* MSG_CAN_NOT_LOAD_PATTERN = "can not load pattern <%s>\n";
inline constexpr const char* MSG_DETECTION_FAILED = "error at arDetectMarker\n";
inline constexpr const char* MSG_KEY_TABLE_FULL = "rec_tbl_idx over\n";
inline constexpr const char* MSG_CAN_NOT_OPEN_MOVIE = "can not AVIFileOpen <%s>\n";
inline constexpr const char* MSG_NO_VIDEO_STREAM = "can not AVIFileGetStream <%s>\n";
inline constexpr const char* MSG_NO_DECODER = "can not AVIStreamGetFrameOpen <%s>\n";
inline constexpr const char* MSG_NO_FRAME_RATE =
    "can not find the frame rate of <%s> (rate %u, scale %u)\n";
inline constexpr const char* MSG_NO_FRAME_SIZE = "can not find the frame size of <%s> (%d x %d)\n";
inline constexpr const char* MSG_UNSUPPORTED_JPEG =
    "can not track %s: only colour and greyscale JPEG images can be read\n";

// Reports (error stream) that end no run.
inline constexpr const char* MSG_LOST_FRAMES =
    "%lld frame(s) of <%s> could not be decoded and count as not found\n";

// Standard output.
inline constexpr const char* MSG_FRAME_RATE = "frame rate: %u\n";
inline constexpr const char* MSG_PATTERN_FILE_MISSING = "\"%s\" not found!!\n";
inline constexpr const char* MSG_PATTERN_READ_ERROR = "Pattern Data read error!!\n";
inline constexpr const char* MSG_CONTOUR_DIAGNOSTIC = "??? %d\n";
