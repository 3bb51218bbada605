#include "tools/export/blender_scene.h"

#include <cmath>
#include <cstdio>

#include "track/camera_key.h"

namespace {

// What the script does with the data above it.
const char* const BUILD_SCENE = R"PY(
import os
import re

import bpy


def footage_file(path):
    """The file to load: the movie, or of a sequence whose name holds a run of
    '#' (or a %04d field) for the frame number the picture numbered as the
    first frame, else the lowest numbered one."""
    folder, name = os.path.split(path)
    name = re.sub(r"%0(\d)d", lambda field: "#" * int(field.group(1)), name)
    run = re.match(r"(.*?)(#+)(.*)$", name)
    if run is None:
        return path
    head, hashes, tail = run.groups()
    numbered = re.compile(re.escape(head) + r"(\d{%d,})" % len(hashes) + re.escape(tail) + "$")
    found = []
    if os.path.isdir(folder or "."):
        for entry in os.listdir(folder or "."):
            match = numbered.match(entry)
            if match:
                found.append((int(match.group(1)) != FIRST_FRAME, int(match.group(1)), entry))
    return os.path.join(folder, min(found)[2]) if found else path


def load_footage(scene):
    if FOOTAGE is None:
        return None
    path = footage_file(FOOTAGE)
    if not os.path.isfile(path):
        print("lumeko: %s is not there: the scene has no background" % FOOTAGE)
        return None
    clip = bpy.data.movieclips.load(path, check_existing=True)
    clip.frame_start = FIRST_FRAME  # its first frame on the track's first frame
    scene.active_clip = clip
    return clip


def make_camera(scene, clip):
    # Lumeko resizes the camera file to the frames by the ratio of the widths.
    width, height = CAMERA_SIZE
    if clip is not None and clip.size[0] > 0:
        width, height = clip.size[0], clip.size[1]
    fx, fy, cx, cy = (value * width / CAMERA_SIZE[0] for value in CAMERA_LENS)
    render = scene.render
    render.resolution_x, render.resolution_y, render.resolution_percentage = width, height, 100
    render.pixel_aspect_x, render.pixel_aspect_y = max(1.0, fy / fx), max(1.0, fx / fy)
    lens = bpy.data.cameras.new(CAMERA_NAME)
    lens.sensor_fit = "HORIZONTAL"
    lens.sensor_width = 36.0
    lens.sensor_height = 36.0 * height / width
    lens.lens = fx * lens.sensor_width / width
    # Pixel (x, y) of the camera file is centred on (x + 0.5, y + 0.5) of
    # Blender's frame; the shift is in widths of the frame.
    lens.shift_x = (width / 2.0 - cx - 0.5) / width
    lens.shift_y = (cy + 0.5 - height / 2.0) * fx / fy / width
    lens.clip_start = MARKER_WIDTH / 100.0
    lens.clip_end = MARKER_WIDTH * 10000.0
    if clip is not None:
        lens.show_background_images = True
        background = lens.background_images.new()
        background.source = "MOVIE_CLIP"
        background.clip = clip
        background.alpha = 1.0
    camera = bpy.data.objects.new(CAMERA_NAME, lens)
    scene.collection.objects.link(camera)
    scene.camera = camera
    camera.rotation_mode = "QUATERNION"
    camera.location = KEYS[0][1:4]
    camera.rotation_quaternion = KEYS[0][4:8]
    action = bpy.data.actions.new(CAMERA_NAME)
    camera.animation_data_create().action = action
    channels = [("location", i, 1 + i) for i in range(3)]
    channels += [("rotation_quaternion", i, 4 + i) for i in range(4)]
    for path, index, column in channels:
        curve = action.fcurves.new(path, index=index, action_group="track")
        curve.keyframe_points.add(len(KEYS))
        curve.keyframe_points.foreach_set("co", [v for key in KEYS for v in (key[0], key[column])])
        for point in curve.keyframe_points:
            point.interpolation = "LINEAR"
        curve.update()


def make_marker(scene):
    half = MARKER_WIDTH / 2.0
    mesh = bpy.data.meshes.new("marker")
    mesh.from_pydata([(-half, -half, 0.0), (half, -half, 0.0), (half, half, 0.0),
                      (-half, half, 0.0)], [], [(0, 1, 2, 3)])
    uv = mesh.uv_layers.new(name="UVMap")
    for loop, corner in zip(uv.data, [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0)]):
        loop.uv = corner
    size, texels = MARKER_TEXTURE
    image = bpy.data.images.new("marker", size, size)
    rgb = bytes.fromhex(texels)
    pixels = []
    for i in range(0, len(rgb), 3):
        pixels += (rgb[i] / 255.0, rgb[i + 1] / 255.0, rgb[i + 2] / 255.0, 1.0)
    image.pixels.foreach_set(pixels)
    image.pack()
    material = bpy.data.materials.new("marker")
    material.use_nodes = True
    texture = material.node_tree.nodes.new("ShaderNodeTexImage")
    texture.image = image
    texture.interpolation = "Closest"
    shader = material.node_tree.nodes["Principled BSDF"]
    material.node_tree.links.new(texture.outputs["Color"], shader.inputs["Base Color"])
    mesh.materials.append(material)
    marker = bpy.data.objects.new("marker", mesh)
    scene.collection.objects.link(marker)


def make_scene():
    scene = bpy.data.scenes.new("Lumeko")
    for window in bpy.context.window_manager.windows:
        window.scene = scene
    scene.view_settings.view_transform = "Standard"
    clip = load_footage(scene)
    make_camera(scene, clip)
    make_marker(scene)
    scene.frame_start = FIRST_FRAME
    scene.frame_end = FIRST_FRAME + FRAMES - 1
    fps = FPS or (clip.fps if clip is not None and clip.fps > 0 else 30)
    scene.render.fps = max(1, round(fps))
    scene.render.fps_base = scene.render.fps / fps
    scene.frame_set(FIRST_FRAME)
    print("lumeko: made the scene %s: %d keys, frames %d to %d"
          % (scene.name, len(KEYS), scene.frame_start, scene.frame_end))


make_scene()
)PY";

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The marker's texture: its side and its bytes as hexadecimal red, green,
// blue, bottom row first (as Blender stores pictures), 96 digits a line.
std::string textureData(const RgbImage& texture) {
    std::string hex, lines;
    static const char DIGITS[] = "0123456789abcdef";
    for (int row = texture.height - 1; row >= 0; --row) {
        const unsigned char* p = texture.rgb.data() + static_cast<size_t>(row) * texture.width * 3;
        for (int i = 0; i < texture.width * 3; ++i) {
            hex += DIGITS[p[i] >> 4];
            hex += DIGITS[p[i] & 15];
        }
    }
    for (size_t at = 0; at < hex.size(); at += 96) {
        lines += "    \"" + hex.substr(at, 96) + "\"\n";
    }
    return "MARKER_TEXTURE = (" + std::to_string(texture.width) + ", (\n" + lines + "))\n";
}

}  // namespace

int blenderSceneScript(const CameraMotion& motion, const BlenderSceneInput& input,
                       const ExportSettings& settings, std::string& script, std::string& error) {
    if (checkTrack(motion, settings, error) != 0)
        return -1;
    std::string keys;
    double previous[4] = {0.0, 0.0, 0.0, 1.0};
    bool first = true;
    for (int i = 0; i < motion.rowCount(); i++) {
        if (motion.rows[i].found != 1) {
            continue;
        }
        // The camera in the marker's coordinates: its axes (x right, y down,
        // z forward) and position. Blender's camera looks down its -Z with +Y up.
        const Pose cameraInMarker = cameraKeyToCameraInMarker(cameraKeyOfRow(motion.rows[i]));
        const double(&m)[3][4] = cameraInMarker.m;
        double r[3][3], q[4];
        for (int j = 0; j < 3; j++) {
            r[j][0] = m[j][0];
            r[j][1] = -m[j][1];
            r[j][2] = -m[j][2];
        }
        quaternionOfRotation(r, q);
        // The shorter way from the previous key, for the interpolation between keys.
        if (!first &&
            q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] <
                0.0) {
            for (double& v : q) {
                v = -v;
            }
        }
        std::copy(q, q + 4, previous);
        first = false;
        keys += "    (" + std::to_string(settings.firstFrame + i);
        for (int j = 0; j < 3; j++) {
            const double v = m[j][3] * settings.metresPerUnit;
            if (!finiteOut(v, i,
                           j == 0   ? "location x"
                           : j == 1 ? "location y"
                                    : "location z",
                           error))
                return -1;
            keys += number(", %.9g", v);
        }
        for (int j : {3, 0, 1, 2}) {
            keys += number(", %.9f", q[j]);
        }
        keys += "),\n";
    }
    if (!std::isfinite(settings.markerWidth * settings.metresPerUnit)) {
        error = "the marker width is not finite in metres (--width, --metres-per-unit)";
        return -1;
    }
    const CameraParam& c = input.camera;
    script = "# A Blender scene of the camera track " + input.trackName +
             ", made by lumeko-export.\n"
             "# Run it in Blender 3.4 or later: blender -P this.py, or open it in the Text\n"
             "# Editor and press Run Script. It makes a scene named Lumeko: the tracked camera\n"
             "# (one key per frame where the marker was found), its lens from the camera file,\n"
             "# the footage as the camera's background and the marker at the origin. Z is up,\n"
             "# lengths are in metres; the marker lies in the XY plane, its picture upright\n"
             "# seen from -Y. Blender's camera has no lens distortion.\n\n"
             "CAMERA_NAME = " +
             quoted(motion.cameraName) +
             "\n"
             "FOOTAGE = " +
             (input.footage.empty() ? std::string("None") : quoted(input.footage)) +
             "\n"
             "FIRST_FRAME = " +
             std::to_string(settings.firstFrame) +
             "\n"
             "FRAMES = " +
             std::to_string(motion.rowCount()) +
             "\n"
             "FPS = " +
             (input.fpsGiven ? number("%.9g", settings.fps) : std::string("None")) +
             "  # None: the footage's rate, or 30\n"
             "# The camera file: its frame size, focal lengths and principal point in pixels.\n"
             "CAMERA_SIZE = (" +
             std::to_string(c.xsize) + ", " + std::to_string(c.ysize) +
             ")\n"
             "CAMERA_LENS = (" +
             number("%.9g", c.mat[0][0]) + number(", %.9g", c.mat[1][1]) +
             number(", %.9g", c.mat[0][2]) + number(", %.9g", c.mat[1][2]) +
             ")\n"
             "MARKER_WIDTH = " +
             number("%.9g", settings.markerWidth * settings.metresPerUnit) +
             "\n"
             "# frame, location x, y, z, rotation quaternion w, x, y, z\n"
             "KEYS = [\n" +
             keys + "]\n" + textureData(input.markerTexture) + BUILD_SCENE;
    return 0;
}
