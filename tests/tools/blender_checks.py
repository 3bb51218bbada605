# Everything the tests look at in Blender, in one run of it:
#   blender -b --factory-startup --python-exit-code 1 -P blender_checks.py -- KEY=VALUE...
# It writes a line per finding into the file RESULTS, which blender_test.cpp
# compares with the truth:
# - the add-on, installed from its zip ADDON into the folder SCRIPTS, finding
#   its programs in TOOLS (its preferences) and APP (on PATH), on the movie
#   CLIP with the pattern PATTERN and the camera file CAMERA: a run whose
#   pattern file is missing, a cancelled run (on the longer LONG_CLIP), and
#   two tracks, the second replacing the first ("addon ..." lines, the
#   marker's corners in every frame of the second);
# - the glTF file GLTF, imported with the importer's defaults ("gltf ...");
# - the scene script SCENE run as a user runs it ("scene ...", the marker's
#   corners in the frames of SCENE_FRAMES, and a set's further markers);
# - the scene script LENS, whose scene is rendered at frame LENS_FRAME with a
#   grid of bright squares on the marker's plane, through the compositor's
#   Movie Distortion node ("lens ...": the camera, each square's place and
#   where the picture has it).
# Pixel positions are those of the footage: x right, y down, pixel centres on
# whole numbers.

import os
import sys
import time

import bpy
import numpy
from bpy_extras.object_utils import world_to_camera_view
from mathutils import Vector

ARGS = dict(arg.split("=", 1) for arg in sys.argv[sys.argv.index("--") + 1:])
# The results go to a file of their own, a whole line at a time: Blender's
# own messages share standard output, where a block of ours may be cut in the
# middle of a line by one of Blender's.
RESULTS = open(ARGS["RESULTS"], "w", buffering=1)


def say(*words):
    print(*words, file=RESULTS, flush=True)


def marker(scene):
    return next(o for o in scene.objects
                if o.type == "MESH" and o.get("lumeko_track") and not o.get("lumeko_marker"))


def corners(tag, scene, frames):
    """Where Blender's camera shows the marker's corners, top left of its
    picture first, clockwise."""
    width, height = scene.render.resolution_x, scene.render.resolution_y
    h = marker(scene).dimensions.x / 2
    for frame in frames:
        scene.frame_set(frame)
        for x, y in [(-h, h), (h, h), (h, -h), (-h, -h)]:
            p = world_to_camera_view(scene, scene.camera, Vector((x, y, 0)))
            say(tag, "corner", frame, p.x * width - 0.5, (1 - p.y) * height - 0.5)


def matrix(obj):
    m = obj.matrix_world
    return " ".join("%.12g" % m[r][c] for r in range(3) for c in range(4))


def snapshot(scene, clip):
    """What a Track may change: compared before and after one that must not."""
    lens = clip.tracking.camera
    return (sorted(o.name for o in scene.objects), scene.camera.name, scene.frame_start,
            scene.frame_end, scene.render.fps, scene.render.fps_base,
            scene.render.resolution_x, scene.render.resolution_y, scene.active_clip,
            scene.use_nodes, len(bpy.data.objects), len(bpy.data.cameras),
            len(bpy.data.actions), len(bpy.data.meshes), len(bpy.data.images),
            lens.focal_length, lens.k1, tuple(lens.principal))


def check_addon():
    bpy.context.preferences.filepaths.script_directory = ARGS["SCRIPTS"]
    bpy.utils.refresh_script_paths()
    bpy.ops.preferences.addon_install(filepath=ARGS["ADDON"], target="PREFS")
    bpy.ops.preferences.addon_enable(module="lumeko")
    import lumeko
    from lumeko import ui
    say("addon installed", lumeko.__name__, *lumeko.bl_info["version"])
    os.environ["PATH"] = ARGS["APP"] + os.pathsep + os.environ["PATH"]
    prefs = bpy.context.preferences.addons["lumeko"].preferences
    prefs.programs = ARGS["TOOLS"]
    bpy.ops.lumeko.check_programs()
    say("addon programs", prefs.checked)

    scene = bpy.context.scene
    clip = bpy.data.movieclips.load(ARGS["CLIP"])
    settings = clip.lumeko
    settings.width = 80
    settings.camera = "FILE"
    settings.camera_file = ARGS["CAMERA"]
    before = snapshot(scene, clip)

    settings.pattern = os.path.join(ARGS["SCRIPTS"], "absent.pattern")
    try:
        bpy.ops.lumeko.track(clip=clip.name)
        say("addon failed: no")
    except RuntimeError as error:
        say("addon failed:", " | ".join(str(error).splitlines()))
    say("addon failed unchanged", int(snapshot(scene, clip) == before))

    settings.pattern = ARGS["PATTERN"]
    # The run to cancel tracks a long clip, so that it is still tracking
    # when looked at, however slowly this process is scheduled.
    long = bpy.data.movieclips.load(ARGS["LONG_CLIP"])
    for key in ("width", "camera", "camera_file", "pattern"):
        setattr(long.lumeko, key, getattr(settings, key))
    before = snapshot(scene, long)
    tracking = ui.Tracking(bpy.context, long)
    job = tracking.job
    start = time.monotonic()
    while job.poll() == "running" and job.progress == 0.0 and time.monotonic() - start < 30:
        time.sleep(0.005)
    say("addon progress", job.label, job.progress > 0.0)
    job.cancel()
    ended = job._process.poll() is not None
    result = tracking.finish(bpy.context, lambda kind, text: say("addon report", text))
    say("addon cancelled", job.state, sorted(result), int(ended),
          int(snapshot(scene, long) == before), int(tracking.folder is None))

    for round in (1, 2):
        bpy.ops.lumeko.track(clip=clip.name)
        say("addon tracked", round, sorted(o.name for o in scene.objects),
              len(bpy.data.cameras), len(bpy.data.actions), len(bpy.data.images))
    say("addon scene", scene.frame_start, scene.frame_end, scene.render.fps,
          scene.camera.name, scene.active_clip.name)
    corners("addon", scene, range(scene.frame_start, scene.frame_end + 1))


def check_gltf():
    scene = bpy.data.scenes.new("glTF")
    bpy.context.window.scene = scene
    # The importer puts a key at the scene frame time x rate: at the
    # footage's rate, the key of frame n lands on frame n.
    scene.render.fps, scene.render.fps_base = 30, 1.0
    bpy.ops.import_scene.gltf(filepath=ARGS["GLTF"])
    cameras = [obj for obj in scene.objects if obj.type == "CAMERA"]
    say("gltf cameras", len(cameras))
    for frame in range(int(ARGS["FRAMES"])):
        scene.frame_set(frame)
        say("gltf camera", frame, matrix(cameras[0]))
    for obj in scene.objects:
        if obj.type == "EMPTY":
            say("gltf empty", " ".join("%.9g" % v for v in obj.matrix_world.translation))


def check_scene():
    bpy.ops.script.python_file_run(filepath=ARGS["SCENE"])
    scene = bpy.data.scenes["Lumeko"]
    say("scene", scene.frame_start, scene.frame_end, scene.render.fps,
          scene.render.resolution_x, scene.render.resolution_y)
    say("scene clip", scene.active_clip.source, scene.active_clip.frame_start)
    corners("scene", scene, map(int, ARGS["SCENE_FRAMES"].split(",")))
    for obj in scene.objects:
        if obj.get("lumeko_marker"):
            say("scene set", obj["lumeko_marker"], "%.6g" % obj.dimensions.x, matrix(obj))
    scene.name = "checked"


def bright_squares(scene, step, count, side):
    material = bpy.data.materials.new("bright")
    material.use_nodes = True
    nodes = material.node_tree.nodes
    nodes.clear()
    emission = nodes.new("ShaderNodeEmission")
    material.node_tree.links.new(emission.outputs[0],
                                 nodes.new("ShaderNodeOutputMaterial").inputs[0])
    h = side / 2
    for i in range(-count, count + 1):
        for j in range(-count, count + 1):
            x, y = i * step, j * step
            mesh = bpy.data.meshes.new("square")
            mesh.from_pydata([(x - h, y - h, 0), (x + h, y - h, 0), (x + h, y + h, 0),
                              (x - h, y + h, 0)], [], [(0, 1, 2, 3)])
            mesh.materials.append(material)
            scene.collection.objects.link(bpy.data.objects.new("square", mesh))
            say("lens square", x, y)


def spots(picture):
    """The centres (brightness-weighted) of the bright spots that do not
    touch the picture's edge."""
    lit = picture > 0.05
    seen = numpy.zeros_like(lit)
    height, width = lit.shape
    for y0, x0 in numpy.argwhere(lit):
        if seen[y0, x0]:
            continue
        stack, spot = [(y0, x0)], []
        seen[y0, x0] = True
        while stack:
            y, x = stack.pop()
            spot.append((y, x))
            for v in (y - 1, y, y + 1):
                for u in (x - 1, x, x + 1):
                    if 0 <= v < height and 0 <= u < width and lit[v, u] and not seen[v, u]:
                        seen[v, u] = True
                        stack.append((v, u))
        ys, xs = numpy.array(spot).T
        if xs.min() > 0 and ys.min() > 0 and xs.max() < width - 1 and ys.max() < height - 1:
            w = picture[ys, xs]
            yield (xs * w).sum() / w.sum(), (ys * w).sum() / w.sum()


def check_lens():
    bpy.ops.script.python_file_run(filepath=ARGS["LENS"])
    scene = bpy.data.scenes["Lumeko"]
    say("lens node", scene.node_tree.nodes["Lumeko lens"].clip.name)
    marker(scene).hide_render = True
    bright_squares(scene, 0.02, 7, 0.006)
    scene.render.engine = "CYCLES"
    scene.cycles.samples = 16
    scene.cycles.use_denoising = False
    scene.frame_set(int(ARGS["LENS_FRAME"]))
    scene.render.filepath = os.path.join(ARGS["SCRIPTS"], "lens.png")
    scene.render.image_settings.file_format = "PNG"
    scene.render.image_settings.color_depth = "16"
    bpy.ops.render.render(write_still=True, scene=scene.name)
    say("lens camera", matrix(scene.camera))
    width, height = scene.render.resolution_x, scene.render.resolution_y
    picture = numpy.array(bpy.data.images.load(scene.render.filepath).pixels[:], numpy.float32)
    for x, y in spots(picture.reshape(height, width, 4)[::-1, :, 0]):
        say("lens spot", x, y)


check_addon()
check_gltf()
check_scene()
check_lens()
