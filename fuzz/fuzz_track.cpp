// The camera-motion reader and every export writer: any text parses into
// rows of finite values (never more rows than the text holds keys for) or
// fails naming a line; a track that parses goes through .chan, CSV, glTF and
// GLB, each written in full with every number finite (read back: the text
// formats as numbers, the glTF files with the library), or refused with a
// message naming the row and channel or the reason.

#include <tiny_gltf.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/common/track_range.h"
#include "tools/export/track_export.h"
#include "track/camera_motion_reader.h"

namespace {

// Every cell of a text output split at `separator`, one vector a line.
std::vector<std::vector<std::string>> cells(const std::string& text, char separator) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string>& cellsOfLine = lines.emplace_back();
        size_t start = 0;
        for (size_t end; (end = line.find(separator, start)) != std::string::npos; start = end + 1)
            cellsOfLine.push_back(line.substr(start, end - start));
        cellsOfLine.push_back(line.substr(start));
    }
    return lines;
}

bool finiteNumber(const std::string& cell) {
    char* end = nullptr;
    const double value = std::strtod(cell.c_str(), &end);
    return !cell.empty() && *end == '\0' && std::isfinite(value);
}

// A refusal is the whole track's or names a row.
void checkRefusal(const std::string& error) {
    fuzz::require(
        error.starts_with("row ") || error.starts_with("no frame of the track has the marker"),
        "a refusal names the row or the reason");
}

void checkGltf(const std::string& path, bool binary, int found) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string error, warning;
    const bool loaded = binary ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                               : loader.LoadASCIIFromFile(&model, &error, &warning, path);
    fuzz::require(loaded, "the glTF file loads");
    fuzz::require(model.animations.size() == 1 && model.buffers.size() == 1,
                  "one animation, one buffer");
    for (const tinygltf::Accessor& accessor : model.accessors) {
        if (accessor.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT)
            continue;
        const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
        const std::vector<unsigned char>& data = model.buffers.at(view.buffer).data;
        const size_t count =
            accessor.count * tinygltf::GetNumComponentsInType(static_cast<uint32_t>(accessor.type));
        fuzz::require(view.byteOffset + count * sizeof(float) <= data.size(),
                      "an accessor lies within its buffer");
        for (size_t i = 0; i < count; i++) {
            float value;
            std::memcpy(&value, data.data() + view.byteOffset + i * sizeof(float), sizeof value);
            fuzz::require(std::isfinite(value), "every glTF float is finite");
        }
    }
    const tinygltf::AnimationSampler& sampler = model.animations[0].samplers.at(0);
    fuzz::require(model.accessors.at(sampler.input).count == static_cast<size_t>(found),
                  "one key a found frame");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CameraMotion motion;
    if (const TrackResult parsed = parseCameraMotion(in, motion); !parsed.ok()) {
        fuzz::require(parsed.failure == TrackFailure::Malformed && parsed.line >= 1,
                      "a malformed file is refused at a line");
        // Rows are made only as keys are read, a key at least four bytes.
        fuzz::require(motion.rows.size() <= size / 4 + 1, "no more rows than keys read");
        return 0;
    }
    for (const KeyRow& row : motion.rows)
        for (double value : {row.translateX, row.translateY, row.translateZ, row.rotateY,
                             row.rotateX, row.rotateZ})
            fuzz::require(std::isfinite(value), "every key is finite");
    std::string error;
    const std::string beyond = rowBeyondDrawing(motion);
    fuzz::require(beyond.empty() || beyond.starts_with("row "), "a track too large names a row");

    // The default camera: 640 x 480, 60 degrees across.
    const Lens lens{2.0 * std::atan(0.75 * std::tan(M_PI / 6)) * 180.0 / M_PI, 4.0 / 3.0};
    const ExportSettings settings;
    const int found = motion.foundCount();
    std::string text;
    if (chanText(motion, lens, settings, text, error) == 0) {
        const auto lines = cells(text, ' ');
        fuzz::require(lines.size() == static_cast<size_t>(found), "a .chan line a found frame");
        for (const auto& line : lines) {
            fuzz::require(line.size() == 8, "eight .chan fields");
            for (const std::string& cell : line)
                fuzz::require(finiteNumber(cell), "every .chan field is a finite number");
        }
    } else {
        checkRefusal(error);
    }
    if (csvText(motion, settings, text, error) == 0) {
        const auto lines = cells(text, ',');
        fuzz::require(lines.size() == motion.rows.size() + 1, "a CSV line a row");
        for (size_t i = 1; i < lines.size(); i++) {
            fuzz::require(lines[i].size() == 24, "24 CSV cells");
            for (const std::string& cell : lines[i])
                fuzz::require(cell.empty() || finiteNumber(cell), "every CSV cell finite");
        }
    } else {
        checkRefusal(error);
    }
    for (const bool binary : {false, true}) {
        const std::string& path = fuzz::scratchPath(binary ? "track.glb" : "track.gltf");
        if (writeGltf(path, motion, lens, settings, binary, error) == 0)
            checkGltf(path, binary, found);
        else
            checkRefusal(error);
    }
    return 0;
}
