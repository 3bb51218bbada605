#include "track/camera_motion_reader.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// The six channels: keyword, its name for camera 0 and for the dolly cameras.
struct ChannelName {
    const char* keyword;
    const char* standardName;
    const char* dollyName;
    double KeyRow::*value;
};

constexpr ChannelName CHANNEL_NAMES[] = {
    {"rotateZ", "roll", "zrot", &KeyRow::rotateZ},
    {"rotateX", "pitch", "xrot", &KeyRow::rotateX},
    {"rotateY", "yaw", "yrot", &KeyRow::rotateY},
    {"translateZ", "dollyZ", "ztran", &KeyRow::translateZ},
    {"translateY", "dollyY", "ytran", &KeyRow::translateY},
    {"translateX", "dollyX", "xtran", &KeyRow::translateX},
};
constexpr int CHANNEL_COUNT = 6;

// The largest key table a file may describe: the program never writes more.
constexpr long MAX_ROWS = 1000000;

// The longest line the layout has room for: a key of any finite value in
// plain digits is some 330 characters, a camera's name a few dozen.
constexpr size_t MAX_LINE = 4096;

// Walks the non-blank lines of a stream one at a time, each split into words
// at white space, so that reading stops at the first wrong line and holds
// no more than one line. A line longer than MAX_LINE is read no further and
// matches nothing.
class Lines {
  public:
    explicit Lines(std::istream& in) : in_(*in.rdbuf()) { advance(); }
    bool atEnd() const { return ended_; }
    const std::vector<std::string>& words() const { return words_; }
    const std::string& text() const { return text_; }
    long long number() const { return ended_ ? number_ + 1 : number_; }
    bool overlong() const { return overlong_; }
    void advance() {
        words_.clear();
        while (words_.empty() && !ended_ && !overlong_) {
            ended_ = !readLine();
            split();
        }
    }

  private:
    // The next line into text_; false at the end of the stream.
    bool readLine() {
        text_.clear();
        int c = in_.sbumpc();
        if (c == std::char_traits<char>::eof())
            return false;
        number_++;
        for (; c != std::char_traits<char>::eof() && c != '\n'; c = in_.sbumpc()) {
            if (text_.size() == MAX_LINE) {
                overlong_ = true;
                return true;
            }
            text_.push_back(static_cast<char>(c));
        }
        return true;
    }
    void split() {
        if (overlong_) {
            words_.assign(1, "\n");  // a word no line has: the line matches nothing
            return;
        }
        size_t at = 0;
        for (;;) {
            while (at < text_.size() && std::isspace(static_cast<unsigned char>(text_[at])))
                at++;
            if (at == text_.size())
                return;
            const size_t start = at;
            while (at < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at])))
                at++;
            words_.push_back(text_.substr(start, at - start));
        }
    }

    std::streambuf& in_;
    std::string text_;
    std::vector<std::string> words_;
    long long number_ = 0;
    bool ended_ = false;
    bool overlong_ = false;
};

class Parser {
  public:
    explicit Parser(std::istream& in) : lines_(in) {}

    // What made the file fail, once parse() has failed.
    const TrackResult& failure() const { return failure_; }

    bool fail(const std::string& what) {
        failure_ = {
            TrackFailure::Malformed, 0,
            lines_.overlong() ? "longer than " + std::to_string(MAX_LINE) + " characters" : what};
        failure_.line = lines_.number();
        return false;
    }

    // The next line is exactly these words.
    bool expect(std::initializer_list<const char*> words) {
        std::string wanted;
        for (const char* w : words)
            wanted += (wanted.empty() ? "" : " ") + std::string(w);
        if (lines_.atEnd())
            return fail("the file ends where \"" + wanted + "\" belongs");
        const std::vector<std::string>& got = lines_.words();
        bool same = got.size() == words.size();
        size_t i = 0;
        for (const char* w : words)
            same = same && got[i++] == w;
        if (!same)
            return fail("expected \"" + wanted + "\"");
        lines_.advance();
        return true;
    }

    // The next line has `count` words and begins with `keyword`.
    bool expectKeyword(const char* keyword, size_t count) {
        if (lines_.atEnd())
            return fail(std::string("the file ends where \"") + keyword + "\" belongs");
        if (lines_.words().size() != count || lines_.words()[0] != keyword)
            return fail(std::string("expected \"") + keyword + "\" and " +
                        std::to_string(count - 1) + " value(s)");
        return true;
    }

    static bool toNumber(const std::string& word, double& value) {
        const char* end = word.data() + word.size();
        auto result = std::from_chars(word.data(), end, value, std::chars_format::fixed);
        return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
    }

    static bool toCount(const std::string& word, long& value) {
        const char* end = word.data() + word.size();
        auto result = std::from_chars(word.data(), end, value);
        return result.ec == std::errc() && result.ptr == end;
    }

    // One key: "k  INDEX  VALUE", "sl  1", "con", "sm".
    bool key(long index, double& value) {
        if (!expectKeyword("k", 3))
            return false;
        long got = -1;
        if (!toCount(lines_.words()[1], got) || got != index)
            return fail("expected key number " + std::to_string(index));
        if (!toNumber(lines_.words()[2], value))
            return fail("\"" + lines_.words()[2] + "\" is not a finite decimal number");
        lines_.advance();
        return expect({"sl", "1"}) && expect({"con"}) && expect({"sm"});
    }

    // The camera's name: the rest of the line after the keyword.
    bool name(const char* keyword, std::string& value) {
        if (lines_.atEnd() || lines_.words().size() < 2 || lines_.words()[0] != keyword)
            return fail(std::string("expected \"") + keyword + " NAME\"");
        const std::string& text = lines_.text();
        size_t start = text.find(keyword) + std::string(keyword).size();
        start = text.find_first_not_of(" \t", start);
        size_t end = text.find_last_not_of(" \t\r");
        value = text.substr(start, end + 1 - start);
        lines_.advance();
        return true;
    }

    bool header(long& rowCount) {
        if (!expect({"{"}) || !expect({"version"}) || !expect({"{"}) || !expect({"number", "7"}) ||
            !expect({"}"}) || !expectKeyword("clearFigureKeys", 2))
            return false;
        if (!toCount(lines_.words()[1], rowCount) || rowCount < 0 || rowCount > MAX_ROWS)
            return fail("\"" + lines_.words()[1] + "\" is not a number of frames");
        lines_.advance();
        return true;
    }

    bool focal(double& value) {
        return expect({"focal", "focal"}) && expect({"{"}) && expect({"keys"}) && expect({"{"}) &&
               key(0, value) && expect({"}"}) && expect({"}"});
    }

    // One of the six key channels, in any order, each once.
    bool channel(long rowCount, std::vector<KeyRow>& rows, bool seen[CHANNEL_COUNT]) {
        if (lines_.atEnd())
            return fail("the file ends where a channel belongs");
        int c = 0;
        while (c < CHANNEL_COUNT && lines_.words()[0] != CHANNEL_NAMES[c].keyword)
            c++;
        if (c == CHANNEL_COUNT)
            return fail(
                "expected a channel (rotateZ, rotateX, rotateY, translateZ, translateY, "
                "translateX)");
        const ChannelName& ch = CHANNEL_NAMES[c];
        if (seen[c])
            return fail(std::string("a second ") + ch.keyword + " channel");
        seen[c] = true;
        const std::vector<std::string>& words = lines_.words();
        if (words.size() != 2 || (words[1] != ch.standardName && words[1] != ch.dollyName))
            return fail(std::string("expected \"") + ch.keyword + " " + ch.standardName +
                        "\" or \"" + ch.keyword + " " + ch.dollyName + "\"");
        lines_.advance();
        if (!expect({"{"}) || !expect({"keys"}) || !expect({"{"}))
            return false;
        for (long i = 0; i < rowCount; i++) {
            if (!lines_.atEnd() && lines_.words()[0] == "}")
                return fail(std::string(ch.keyword) + " has " + std::to_string(i) +
                            " keys, clearFigureKeys " + std::to_string(rowCount));
            // Rows are made as their keys are read, never ahead of the file.
            if (static_cast<size_t>(i) == rows.size())
                rows.emplace_back();
            if (!key(i, rows[static_cast<size_t>(i)].*ch.value))
                return false;
        }
        if (!lines_.atEnd() && lines_.words()[0] == "k")
            return fail(std::string(ch.keyword) + " has more keys than clearFigureKeys " +
                        std::to_string(rowCount));
        if (!expect({"}"}))
            return false;
        if (!lines_.atEnd() && lines_.words()[0] == "trackingScaleMult") {
            double scale = 0.0;
            if (lines_.words().size() != 2 || !toNumber(lines_.words()[1], scale) || scale != 1.0)
                return fail("only \"trackingScaleMult 1\" is understood");
            lines_.advance();
        }
        return expect({"}"});
    }

    bool footer(const std::string& cameraName) {
        if (!expect({"}"}) || !expect({"cameraModel", "real"}) || !expectKeyword("userCreated", 2))
            return false;
        if (lines_.words()[1] != "0" && lines_.words()[1] != "1")
            return fail("expected \"userCreated 0\" or \"userCreated 1\"");
        lines_.advance();
        std::string used;
        if (!expect({"}"}) || !expect({"doc"}) || !expect({"{"}) || !name("useCamera", used))
            return false;
        if (used != cameraName)
            return fail("useCamera names \"" + used + "\", not the camera \"" + cameraName + "\"");
        if (!expect({"}"}) || !expect({"}"}))
            return false;
        if (!lines_.atEnd())
            return fail("text after the end of the file's block");
        return true;
    }

    bool parse(CameraMotion& motion) {
        long rowCount = 0;
        if (!header(rowCount) || !name("camera", motion.cameraName) || !expect({"{"}) ||
            !expect({"channels"}) || !expect({"{"}) || !focal(motion.focal))
            return false;
        motion.rows.clear();
        bool seen[CHANNEL_COUNT] = {};
        for (int i = 0; i < CHANNEL_COUNT; i++) {
            if (!channel(rowCount, motion.rows, seen))
                return false;
        }
        if (!footer(motion.cameraName))
            return false;
        for (KeyRow& row : motion.rows)
            row.found = isNotFoundRow(row) ? 0 : 1;
        return true;
    }

  private:
    Lines lines_;
    TrackResult failure_;
};

}  // namespace

int CameraMotion::foundCount() const {
    int count = 0;
    for (const KeyRow& row : rows)
        count += row.found;
    return count;
}

bool isNotFoundRow(const KeyRow& row) {
    return row.rotateZ == 0.0 && row.rotateX == -45.0 && row.rotateY == 0.0 &&
           row.translateZ == 0.0 && row.translateY == -9.999999 && row.translateX == 0.0;
}

TrackResult parseCameraMotion(std::istream& in, CameraMotion& motion) {
    Parser parser(in);
    return parser.parse(motion) ? TrackResult{} : parser.failure();
}

TrackResult parseCameraMotion(const std::string& text, CameraMotion& motion) {
    std::istringstream in(text);
    return parseCameraMotion(in, motion);
}

TrackResult readCameraMotion(const std::string& path, CameraMotion& motion) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return {TrackFailure::CannotRead, EISDIR};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {TrackFailure::CannotRead, errno};
    const TrackResult parsed = parseCameraMotion(in, motion);
    if (in.bad())
        return TrackFailure::CannotRead;
    return parsed;
}

std::string lineFailureText(const TrackResult& read) {
    return "line " + std::to_string(read.line) + ": " + read.what;
}

std::string readFailureText(const std::string& path, const TrackResult& read) {
    if (read.failure == TrackFailure::Malformed)
        return path + ": not a camera-motion file: " + lineFailureText(read);
    if (read.error == 0)
        return path + ": cannot read";
    return path + ": cannot open: " +
           (read.error == EISDIR ? "Is a folder, not a file" : std::strerror(read.error));
}
