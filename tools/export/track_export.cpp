#include "tools/export/track_export.h"
#include "tools/common/utf8_text.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "tools/common/image_io.h"
#include "track/camera_key.h"

#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>

namespace {

constexpr double PI = 3.141592653589793;

// Room for any finite double in plain digits (%f of the largest is 316
// characters).
std::string format(const char* pattern, double value) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// Appends values to the buffer as little-endian floats (the host's order on
// every machine Debian builds this for that is little-endian; checked below).
template <typename T>
size_t appendValues(std::vector<unsigned char>& buffer, const std::vector<T>& values) {
    static_assert(std::endian::native == std::endian::little);
    while (buffer.size() % 4 != 0)
        buffer.push_back(0);
    const size_t offset = buffer.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
    buffer.insert(buffer.end(), bytes, bytes + values.size() * sizeof(T));
    return offset;
}

// A buffer view over the values just appended, and an accessor for it.
int addAccessor(tinygltf::Model& model, size_t offset, size_t byteLength, int target,
                int componentType, int type, size_t count) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = offset;
    view.byteLength = byteLength;
    view.target = target;
    model.bufferViews.push_back(view);
    tinygltf::Accessor accessor;
    accessor.bufferView = static_cast<int>(model.bufferViews.size()) - 1;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size()) - 1;
}

int addFloats(tinygltf::Model& model, std::vector<unsigned char>& buffer,
              const std::vector<float>& values, int type, int width, int target, bool withBounds) {
    const size_t offset = appendValues(buffer, values);
    const size_t count = values.size() / width;
    const int index = addAccessor(model, offset, values.size() * sizeof(float), target,
                                  TINYGLTF_COMPONENT_TYPE_FLOAT, type, count);
    if (withBounds) {
        tinygltf::Accessor& accessor = model.accessors[index];
        accessor.minValues.assign(width, 1e300);
        accessor.maxValues.assign(width, -1e300);
        for (size_t i = 0; i < values.size(); i++) {
            accessor.minValues[i % width] =
                std::min<double>(accessor.minValues[i % width], values[i]);
            accessor.maxValues[i % width] =
                std::max<double>(accessor.maxValues[i % width], values[i]);
        }
    }
    return index;
}

// Marker corners (x, y) = (-h, h), (h, h), (h, -h), (-h, -h) in the world: (x, 0, -y).
std::vector<float> markerCorners(double halfWidth) {
    const float h = static_cast<float>(halfWidth);
    return {-h, 0, -h, h, 0, -h, h, 0, h, -h, 0, h};
}

void addMarkerMesh(tinygltf::Model& model, std::vector<unsigned char>& buffer, double halfWidth) {
    const std::vector<float> positions = markerCorners(halfWidth);
    const std::vector<float> normals = {0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0};
    const std::vector<unsigned short> indices = {0, 3, 2, 0, 2, 1};  // counter-clockwise from +Y
    tinygltf::Primitive primitive;
    primitive.attributes["POSITION"] = addFloats(model, buffer, positions, TINYGLTF_TYPE_VEC3, 3,
                                                 TINYGLTF_TARGET_ARRAY_BUFFER, true);
    primitive.attributes["NORMAL"] = addFloats(model, buffer, normals, TINYGLTF_TYPE_VEC3, 3,
                                               TINYGLTF_TARGET_ARRAY_BUFFER, false);
    const size_t offset = appendValues(buffer, indices);
    primitive.indices =
        addAccessor(model, offset, indices.size() * sizeof(unsigned short),
                    TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                    TINYGLTF_TYPE_SCALAR, indices.size());
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.material = 0;
    tinygltf::Material material;
    material.name = "marker";
    material.pbrMetallicRoughness.baseColorFactor = {0.1, 0.1, 0.1, 1.0};
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.doubleSided = true;
    model.materials.push_back(material);
    tinygltf::Mesh mesh;
    mesh.name = "marker";
    mesh.primitives.push_back(primitive);
    model.meshes.push_back(mesh);
}

}  // namespace

// A value on its way out of the tool: refused, naming its row and channel,
// when it is not finite (a key so large that converting it overflowed).
bool finiteOut(double value, int row, const char* channel, std::string& error) {
    if (std::isfinite(value))
        return true;
    error = "row " + std::to_string(row) + ", channel " + channel + ": the value is " +
            format("%g", value) + " once converted; nothing is written";
    return false;
}

// What every format needs of the track as a whole: a frame with the marker
// (without one there is no camera to export) and frame numbers that fit.
int checkTrack(const CameraMotion& motion, const ExportSettings& settings, std::string& error) {
    if (motion.foundCount() == 0) {
        error = "no frame of the track has the marker: there is no camera to export";
        return -1;
    }
    const long long last = static_cast<long long>(settings.firstFrame) + motion.rowCount() - 1;
    if (last > INT_MAX) {
        error = "row " + std::to_string(motion.rowCount() - 1) + ": the frame number " +
                std::to_string(last) + " (--first-frame " + std::to_string(settings.firstFrame) +
                ") is beyond " + std::to_string(INT_MAX);
        return -1;
    }
    return 0;
}

Lens lensOfCamera(const CameraParam& camera) {
    const double tanHalfX = camera.xsize / 2.0 / camera.mat[0][0];
    const double tanHalfY = camera.ysize / 2.0 / camera.mat[1][1];
    return {2.0 * std::atan(tanHalfY) * 180.0 / PI, tanHalfX / tanHalfY};
}

WorldCamera worldCameraOfRow(const KeyRow& row) {
    const Pose cameraInMarker = cameraKeyToCameraInMarker(cameraKeyOfRow(row));
    const double(&m)[3][4] = cameraInMarker.m;
    // World axes from marker axes: X = x, Y = z, Z = -y; camera axes from ours:
    // right = x, up = -y, backward = -z.
    WorldCamera camera;
    for (int k = 0; k < 3; k++) {
        const double sign = k == 0 ? 1.0 : -1.0;
        camera.rotation[0][k] = sign * m[0][k];
        camera.rotation[1][k] = sign * m[2][k];
        camera.rotation[2][k] = -sign * m[1][k];
    }
    camera.position[0] = m[0][3];
    camera.position[1] = m[2][3];
    camera.position[2] = -m[1][3];
    return camera;
}

void quaternionOfRotation(const double r[3][3], double q[4]) {
    const double trace = r[0][0] + r[1][1] + r[2][2];
    if (trace > 0.0) {
        const double s = 2.0 * std::sqrt(1.0 + trace);
        q[3] = s / 4.0;
        q[0] = (r[2][1] - r[1][2]) / s;
        q[1] = (r[0][2] - r[2][0]) / s;
        q[2] = (r[1][0] - r[0][1]) / s;
    } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]);
        q[3] = (r[2][1] - r[1][2]) / s;
        q[0] = s / 4.0;
        q[1] = (r[0][1] + r[1][0]) / s;
        q[2] = (r[0][2] + r[2][0]) / s;
    } else if (r[1][1] > r[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]);
        q[3] = (r[0][2] - r[2][0]) / s;
        q[0] = (r[0][1] + r[1][0]) / s;
        q[1] = s / 4.0;
        q[2] = (r[1][2] + r[2][1]) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]);
        q[3] = (r[1][0] - r[0][1]) / s;
        q[0] = (r[0][2] + r[2][0]) / s;
        q[1] = (r[1][2] + r[2][1]) / s;
        q[2] = s / 4.0;
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int i = 0; i < 4; i++)
        q[i] /= norm;
}

int chanText(const CameraMotion& motion, const Lens& lens, const ExportSettings& settings,
             std::string& text, std::string& error) {
    if (checkTrack(motion, settings, error) != 0)
        return -1;
    static const char* const NAMES[7] = {"tx", "ty", "tz", "rx", "ry", "rz", "vfov"};
    text.clear();
    for (int i = 0; i < motion.rowCount(); i++) {
        const KeyRow& row = motion.rows[i];
        if (row.found != 1)
            continue;
        const WorldCamera camera = worldCameraOfRow(row);
        const double values[7] = {
            camera.position[0], camera.position[1], camera.position[2],     row.rotateX,
            row.rotateY,        row.rotateZ,        lens.verticalFovDegrees};
        text += std::to_string(settings.firstFrame + i);
        for (int k = 0; k < 7; k++) {
            if (!finiteOut(values[k], i, NAMES[k], error))
                return -1;
            text += format(k < 6 ? " %.6f" : " %.6f\n", values[k]);
        }
    }
    return 0;
}

int csvText(const CameraMotion& motion, const ExportSettings& settings, std::string& text,
            std::string& error) {
    if (checkTrack(motion, settings, error) != 0)
        return -1;
    static const char* const MATRIX[12] = {"m00", "m01", "m02", "m03", "m10", "m11",
                                           "m12", "m13", "m20", "m21", "m22", "m23"};
    text =
        "frame,found,translateX,translateY,translateZ,rotateY,rotateX,rotateZ,"
        "m00,m01,m02,m03,m10,m11,m12,m13,m20,m21,m22,m23,m30,m31,m32,m33\n";
    for (int i = 0; i < motion.rowCount(); i++) {
        const KeyRow& row = motion.rows[i];
        text += std::to_string(settings.firstFrame + i) + (row.found == 1 ? ",1" : ",0");
        for (double v : {row.translateX, row.translateY, row.translateZ, row.rotateY, row.rotateX,
                         row.rotateZ})
            text += format(",%.6f", v);
        if (row.found != 1) {
            text += std::string(16, ',') + "\n";
            continue;
        }
        const WorldCamera camera = worldCameraOfRow(row);
        for (int j = 0; j < 3; j++) {
            for (int k = 0; k < 3; k++)
                text += format(",%.9f", camera.rotation[j][k]);
            if (!finiteOut(camera.position[j], i, MATRIX[4 * j + 3], error))
                return -1;
            text += format(",%.6f", camera.position[j]);
        }
        text += ",0,0,0,1\n";
    }
    return 0;
}

WorldMarker worldMarkerOf(const PlacedMarker& placed) {
    const double toWorld[3][3] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};  // W; W^-1 = W^T
    WorldMarker world{};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            for (int k = 0; k < 3; k++)
                for (int l = 0; l < 3; l++)
                    world.rotation[i][j] += toWorld[i][k] * placed.toWorld.m[k][l] * toWorld[j][l];
            world.position[i] += toWorld[i][j] * placed.toWorld.m[j][3];
        }
    return world;
}

std::string layoutCsvText(const MarkerLayout& layout, const std::vector<std::string>& patterns) {
    std::string text =
        "marker,pattern,width,frames,m00,m01,m02,m03,m10,m11,m12,m13,m20,m21,m22,m23,"
        "m30,m31,m32,m33\n";
    for (size_t m = 0; m < layout.markers.size(); m++) {
        const PlacedMarker& placed = layout.markers[m];
        if (!placed.linked)
            continue;
        const WorldMarker world = worldMarkerOf(placed);
        text += std::to_string(m) + "," + (m < patterns.size() ? patterns[m] : "") +
                format(",%.9g", placed.width) + "," + std::to_string(placed.frames);
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++)
                text += format(",%.9f", world.rotation[i][j]);
            text += format(",%.6f", world.position[i]);
        }
        text += ",0,0,0,1\n";
    }
    return text;
}

namespace {

// The camera's keys in glTF's terms, one for each found row: times in
// seconds, positions in metres, rotations as quaternions.
struct GltfKeys {
    std::vector<float> times, translations, rotations;
};

// glTF holds 32-bit floats: a value beyond their range is refused too.
bool fitsFloat(double value, int row, const char* channel, std::string& error) {
    return finiteOut(static_cast<float>(value), row, channel, error);
}

int gltfKeys(const CameraMotion& motion, const ExportSettings& settings, GltfKeys& keys,
             std::string& error) {
    double previous[4] = {0.0, 0.0, 0.0, 1.0};
    for (int i = 0; i < motion.rowCount(); i++) {
        if (motion.rows[i].found != 1)
            continue;
        const WorldCamera camera = worldCameraOfRow(motion.rows[i]);
        const double time = (settings.firstFrame + i) / settings.fps;
        if (!fitsFloat(time, i, "time", error))
            return -1;
        keys.times.push_back(static_cast<float>(time));
        for (int k = 0; k < 3; k++) {
            const double v = camera.position[k] * settings.metresPerUnit;
            if (!fitsFloat(v, i,
                           k == 0   ? "translation x"
                           : k == 1 ? "translation y"
                                    : "translation z",
                           error))
                return -1;
            keys.translations.push_back(static_cast<float>(v));
        }
        double q[4];
        quaternionOfRotation(camera.rotation, q);
        if (!fitsFloat(q[0] + q[1] + q[2] + q[3], i, "rotation", error))
            return -1;
        // The shorter way from the previous key, so that interpolation does
        // not swing the camera round the long way.
        const double dot =
            q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3];
        for (int k = 0; k < 4; k++) {
            if (dot < 0.0 && keys.times.size() > 1)
                q[k] = -q[k];
            previous[k] = q[k];
            keys.rotations.push_back(static_cast<float>(q[k]));
        }
    }
    return 0;
}

// Node 0: the camera with its lens, at its first key.
void addCamera(tinygltf::Model& model, const std::string& name, const Lens& lens,
               const GltfKeys& keys, double size) {
    tinygltf::Camera lensCamera;
    lensCamera.type = "perspective";
    lensCamera.perspective.yfov = lens.verticalFovDegrees * PI / 180.0;
    lensCamera.perspective.aspectRatio = lens.aspectRatio;
    lensCamera.perspective.znear = 0.01 * size;
    // The library always writes a far plane, and 0 is not a valid one.
    lensCamera.perspective.zfar = 10000.0 * size;
    model.cameras.push_back(lensCamera);
    tinygltf::Node cameraNode;
    cameraNode.name = name;
    cameraNode.camera = 0;
    cameraNode.translation.assign(keys.translations.begin(), keys.translations.begin() + 3);
    cameraNode.rotation.assign(keys.rotations.begin(), keys.rotations.begin() + 4);
    model.nodes.push_back(cameraNode);
}

// Node 1: the marker, its corners as nodes of their own (2 to 5), which every
// package imports (Blender 3.4 with numpy 1.24, as Debian 12 has them, fails
// on any mesh with its default import settings); the mesh only when asked.
void addMarker(tinygltf::Model& model, std::vector<unsigned char>& data, double halfWidth,
               bool mesh) {
    tinygltf::Node markerNode;
    markerNode.name = "marker";
    markerNode.children = {2, 3, 4, 5};
    if (mesh) {
        markerNode.mesh = 0;
        addMarkerMesh(model, data, halfWidth);
    }
    model.nodes.push_back(markerNode);
    const std::vector<float> corners = markerCorners(halfWidth);
    for (int k = 0; k < 4; k++) {
        tinygltf::Node corner;
        corner.name = "marker corner " + std::to_string(k + 1);
        corner.translation.assign(corners.begin() + 3 * k, corners.begin() + 3 * k + 3);
        model.nodes.push_back(corner);
    }
}

// The further markers of a set: a node each, placed as the layout puts it in
// the world above, its corners as nodes of their own; the nodes' numbers
// into `roots`.
void addSetMarkers(tinygltf::Model& model, const ExportSettings& settings,
                   std::vector<int>& roots) {
    for (size_t m = 1; m < settings.layout.markers.size(); m++) {
        const PlacedMarker& placed = settings.layout.markers[m];
        if (!placed.linked)
            continue;
        tinygltf::Node node;
        node.name = "marker " + std::to_string(m);
        const WorldMarker world = worldMarkerOf(placed);
        double q[4];
        quaternionOfRotation(world.rotation, q);
        node.rotation.assign(q, q + 4);
        for (int i = 0; i < 3; i++)
            node.translation.push_back(world.position[i] * settings.metresPerUnit);
        const int first = static_cast<int>(model.nodes.size()) + 1;
        node.children = {first, first + 1, first + 2, first + 3};
        roots.push_back(first - 1);
        model.nodes.push_back(node);
        const std::vector<float> corners =
            markerCorners(placed.width * settings.metresPerUnit / 2.0);
        for (int k = 0; k < 4; k++) {
            tinygltf::Node corner;
            corner.name = node.name + " corner " + std::to_string(k + 1);
            corner.translation.assign(corners.begin() + 3 * k, corners.begin() + 3 * k + 3);
            model.nodes.push_back(corner);
        }
    }
}

// The camera's move: linear samplers of its translation and rotation.
void addAnimation(tinygltf::Model& model, std::vector<unsigned char>& data, const GltfKeys& keys) {
    const int input = addFloats(model, data, keys.times, TINYGLTF_TYPE_SCALAR, 1, 0, true);
    const int moves = addFloats(model, data, keys.translations, TINYGLTF_TYPE_VEC3, 3, 0, false);
    const int turns = addFloats(model, data, keys.rotations, TINYGLTF_TYPE_VEC4, 4, 0, false);
    tinygltf::Animation animation;
    animation.name = "track";
    for (auto [output, target] : {std::pair{moves, "translation"}, std::pair{turns, "rotation"}}) {
        tinygltf::AnimationSampler sampler;
        sampler.input = input;
        sampler.output = output;
        sampler.interpolation = "LINEAR";
        animation.samplers.push_back(sampler);
        tinygltf::AnimationChannel channel;
        channel.sampler = static_cast<int>(animation.samplers.size()) - 1;
        channel.target_node = 0;
        channel.target_path = target;
        animation.channels.push_back(channel);
    }
    model.animations.push_back(animation);
}

}  // namespace

int writeGltf(const std::string& path, const CameraMotion& motion, const Lens& lens,
              const ExportSettings& settings, bool binary, std::string& error) {
    GltfKeys keys;
    if (checkTrack(motion, settings, error) != 0 || gltfKeys(motion, settings, keys, error) != 0)
        return -1;
    // The lens and the marker, from the options alone.
    const double size = settings.markerWidth * settings.metresPerUnit;
    if (!fitsFloat(10000.0 * size, 0, "zfar (--width times --metres-per-unit)", error))
        return -1;
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "lumeko-export";
    std::vector<unsigned char> data;
    addCamera(model, utf8Text(motion.cameraName), lens, keys, size);
    addMarker(model, data, size / 2.0, settings.markerMesh);
    std::vector<int> roots = {0, 1};
    addSetMarkers(model, settings, roots);
    addAnimation(model, data, keys);
    while (data.size() % 4 != 0)
        data.push_back(0);
    tinygltf::Buffer buffer;
    buffer.data = data;
    model.buffers.push_back(buffer);
    tinygltf::Scene scene;
    scene.name = "track";
    scene.nodes = roots;
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    std::ostringstream stream;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, stream, true, binary)) {
        error = path + ": tinygltf cannot write the scene";
        return -1;
    }
    return writeTextFile(path, stream.str(), error);
}
