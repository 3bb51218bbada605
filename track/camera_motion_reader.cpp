#include "track/camera_motion_reader.h"

#include <charconv>
#include <cmath>
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

// Walks the non-blank lines, each split into words at spaces and tabs.
class Lines {
  public:
    explicit Lines(const std::string& text) {
        std::istringstream in(text);
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            number++;
            std::istringstream split(line);
            std::vector<std::string> words;
            for (std::string word; split >> word;)
                words.push_back(word);
            if (!words.empty())
                lines_.push_back({number, line, std::move(words)});
        }
        lastNumber_ = number;
    }
    bool atEnd() const { return next_ >= lines_.size(); }
    const std::vector<std::string>& words() const { return lines_[next_].words; }
    const std::string& text() const { return lines_[next_].text; }
    int number() const { return atEnd() ? lastNumber_ + 1 : lines_[next_].number; }
    void advance() { next_++; }

  private:
    struct Line {
        int number;
        std::string text;
        std::vector<std::string> words;
    };
    std::vector<Line> lines_;
    size_t next_ = 0;
    int lastNumber_ = 0;
};

class Parser {
  public:
    Parser(const std::string& text, std::string& error) : lines_(text), error_(error) {}

    bool fail(const std::string& what) {
        error_ = "line " + std::to_string(lines_.number()) + ": " + what;
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
    bool channel(std::vector<KeyRow>& rows, bool seen[CHANNEL_COUNT]) {
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
        for (size_t i = 0; i < rows.size(); i++) {
            if (!lines_.atEnd() && lines_.words()[0] == "}")
                return fail(std::string(ch.keyword) + " has " + std::to_string(i) +
                            " keys, clearFigureKeys " + std::to_string(rows.size()));
            if (!key(static_cast<long>(i), rows[i].*ch.value))
                return false;
        }
        if (!lines_.atEnd() && lines_.words()[0] == "k")
            return fail(std::string(ch.keyword) + " has more keys than clearFigureKeys " +
                        std::to_string(rows.size()));
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
        motion.rows.assign(static_cast<size_t>(rowCount), KeyRow{});
        bool seen[CHANNEL_COUNT] = {};
        for (int i = 0; i < CHANNEL_COUNT; i++) {
            if (!channel(motion.rows, seen))
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
    std::string& error_;
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

int parseCameraMotion(const std::string& text, CameraMotion& motion, std::string& error) {
    Parser parser(text, error);
    return parser.parse(motion) ? 0 : -1;
}

int readCameraMotion(const std::string& path, CameraMotion& motion, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return -1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": cannot read";
        return -1;
    }
    if (parseCameraMotion(text.str(), motion, error) != 0) {
        error = path + ": not a camera-motion file: " + error;
        return -1;
    }
    return 0;
}
