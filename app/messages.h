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
    "can not find the frame rate of <%s> (rate 0, scale 0)\n";
inline constexpr const char* MSG_NO_FRAME_SIZE = "can not find the frame size of <%s> (%d x %d)\n";
inline constexpr const char* MSG_FRAME_TOO_LARGE =
    "can not track <%s>: its frames are %d x %d pixels, more than %d on a side\n";
inline constexpr const char* MSG_STILL_TOO_LARGE =
    "can not track %s: the picture is %d x %d pixels, more than %d on a side\n";
inline constexpr const char* MSG_MIXED_SIZES =
    "can not track <%s>: its pictures are not all one size\n";
inline constexpr const char* MSG_UNSUPPORTED_JPEG =
    "can not track %s: only colour and greyscale JPEG images can be read\n";
// A library failed in a way it has no other words for (what it says
// follows): while tracking the input, and anywhere else.
inline constexpr const char* MSG_TRACKING_FAILED = "can not track <%s>: %s\n";
inline constexpr const char* MSG_LIBRARY_FAILED = "can not go on: %s\n";
// An output named like an input: files/'s clashMessage; and the report named
// like another output.
inline constexpr const char* MSG_REPORT_IS_OUTPUT =
    "%s is the same file as the output %s: choose another name for the report\n";

// The second line after MSG_KEY_TABLE_FULL when a movie's known length is
// refused before its first frame.
inline constexpr const char* MSG_MOVIE_TOO_LONG =
    "<%s> has %lld frames to track; one run tracks at most %d (track it in parts with --range "
    "FIRST:LAST)\n";
// A --range that starts after the movie's last frame (then the pause and
// status 1), and one that goes past it (the run goes on).
inline constexpr const char* MSG_RANGE_PAST_END =
    "--range %lld:%lld starts after the end of <%s>: it has %lld frames, 0 to %lld\n";
inline constexpr const char* MSG_RANGE_NO_FRAME =
    "--range %lld:%lld starts after the end of <%s>: it has no frame %lld\n";
inline constexpr const char* MSG_RANGE_CLIPPED =
    "warning: --range %lld:%lld goes past the end of <%s>: tracked frames %lld to %lld\n";

// The line after a failure's message that concerns a file: the file and why
// (the operating system's words, or one of the MSG_REASON texts).
inline constexpr const char* MSG_FILE_REASON = "%s: %s\n";
inline constexpr const char* MSG_REASON_NOT_MOVIE = "Not a movie that can be read";
inline constexpr const char* MSG_REASON_NOT_JPEG =
    "Not a JPEG picture that can be decoded: not a JPEG file, or damaged";
inline constexpr const char* MSG_REASON_NOT_PNG = "Not a PNG picture that can be decoded: damaged";
inline constexpr const char* MSG_REASON_NOT_PATTERN =
    "Not a pattern file (3072 numbers from 0 to 255: four directions of three 16 x 16 colour "
    "planes)";
inline constexpr const char* MSG_REASON_SHORT_CAMERA =
    "Holds %lld bytes, less than one camera record (%d bytes)";

// Frames of another aspect ratio than the camera file's (error stream; the run goes on).
inline constexpr const char* MSG_OTHER_ASPECT =
    "warning: the frames are %d x %d but %s is for %d x %d, another aspect ratio; it is resized "
    "by the width alone and the track will be wrong. Make a camera file for the frames, e.g. "
    "lumeko-camera write Data/camera_para.dat --size %dx%d --hfov <degrees>\n";

// A command-line option that is not known or lacks its value (the line from
// parseOptions), before the usage text.
inline constexpr const char* MSG_BAD_OPTION = "%s\n";
// What is wrong with the positional arguments, before the usage text.
inline constexpr const char* MSG_MISPLACED_OPTION = "%s: options go before the five arguments\n";
inline constexpr const char* MSG_BAD_WIDTH =
    "pattern_width must be the marker's printed width, a finite number above 0; got \"%s\"\n";
inline constexpr const char* MSG_BAD_CAM_NO =
    "cam_no must be a whole number (0 for STD_CAMERA); got \"%s\"\n";
inline constexpr const char* MSG_BAD_KIND = "kind must be M (movie) or I (image); got \"%s\"\n";

// After the camera file's failure when it is missing: where it comes from.
inline constexpr const char* MSG_CAMERA_MISSING_HINT =
    "Lumeko reads the camera from Data/camera_para.dat in the folder it runs in: copy the Data "
    "folder that comes with Lumeko here (from its source folder, or share/lumeko/Data where it "
    "is installed, e.g. cp -r /usr/share/lumeko/Data .), then put your camera's file in it "
    "(lumeko-calibrate or lumeko-camera make one)\n";

// Reports (error stream) that end no run.
inline constexpr const char* MSG_LOST_FRAMES =
    "%lld frame(s) of <%s> could not be decoded and count as not found\n";
inline constexpr const char* MSG_REPEATED_FRAMES =
    "%lld frame(s) of <%s> were empty chunks and repeat the picture before them\n";
inline constexpr const char* MSG_MISSING_FRAMES =
    "%lld frame(s) of <%s> are missing from the sequence and count as not found\n";
inline constexpr const char* MSG_BUSY_FRAMES =
    "%lld frame(s) of <%s> held more dark regions than detection can take and count as not "
    "found\n";

// The summary after Lumeko.cm2 is written, and the hint when the marker was
// found in fewer than half of the frames.
inline constexpr const char* MSG_SUMMARY = "%s: %d frame%s, marker found in %d\n";
inline constexpr const char* MSG_SUMMARY_BRIDGED =
    "%s: %d frame%s, marker found in %d, bridged %d\n";
inline constexpr const char* MSG_SUMMARY_HINT =
    "hint: for real footage try --best; for dim footage or a flat picture profile, "
    "--auto-threshold; for a marker wider than about 360 pixels, --large-markers (see Lumeko "
    "--help)\n";
inline constexpr const char* MSG_LENS_HINT =
    "the camera file's lens moves points of the frame by up to %.1f pixels: --refine fits the "
    "pose through the lens\n";

// After the summary of a track of a picture sequence: its plate file, or
// why it could not be written.
inline constexpr const char* MSG_PLATE_WRITTEN =
    "%s: the track starts at frame %lld of the sequence, at %.10g frames a second (for "
    "lumeko-export)\n";
inline constexpr const char* MSG_PLATE_FAILED =
    "warning: can not write %s (%s); give lumeko-export --first-frame %lld --fps %.10g\n";

// Standard output.
inline constexpr const char* MSG_FRAME_RATE = "frame rate: %u\n";
inline constexpr const char* MSG_PATTERN_FILE_MISSING = "\"%s\" not found!!\n";
inline constexpr const char* MSG_PATTERN_READ_ERROR = "Pattern Data read error!!\n";
inline constexpr const char* MSG_CONTOUR_DIAGNOSTIC = "??? %d\n";

// Several markers on one set (--marker).
inline constexpr const char* MSG_SET_NEEDS_MARKER = "%s is for several markers: give --marker too";
inline constexpr const char* MSG_LAYOUT_LEARNED =
    "layout: %d of %d markers placed, from %lld frames in which two or more were seen\n";
inline constexpr const char* MSG_LAYOUT_UNLINKED =
    "never seen with a marker linked to the first, left out: %s\n";
inline constexpr const char* MSG_LAYOUT_LOOSE =
    "placed too loosely (the frames disagree on where each lies), left out: %s\n";
inline constexpr const char* MSG_LAYOUT_NO_LINK =
    "no marker shares a frame with the first <%s> or with one linked to it: %s\n";
inline constexpr const char* MSG_LAYOUT_FAILED = "the layout's adjustment failed\n";
inline constexpr const char* MSG_LAYOUT_CAN_NOT_READ = "can not read the layout <%s>\n";
inline constexpr const char* MSG_LAYOUT_BAD_LINE =
    "%s line %d: not a layout line (marker,pattern,width,frames,sigma_deg,sigma_pos and the "
    "twelve values of the pose)\n";
inline constexpr const char* MSG_LAYOUT_WRONG_MARKERS =
    "%s line %d: its marker or width is not one the command line gives (marker 0 is the "
    "five arguments', 1 on the --marker options in order)\n";
inline constexpr const char* MSG_LAYOUT_NO_FIRST = "%s places no marker 0\n";
inline constexpr const char* MSG_LAYOUT_CAN_NOT_WRITE = "can not write the layout <%s>\n";
inline constexpr const char* MSG_LAYOUT_IS_OUTPUT =
    "%s is the same file as the output %s: choose another name for the layout\n";
