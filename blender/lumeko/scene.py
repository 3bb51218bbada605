# Builds a Lumeko camera track into a Blender scene: the tracked camera with
# its keys, lens and lens shift, the footage behind it, the frame range and
# rate, the marker at the origin, and the clip's tracking camera with the lens
# distortion of the camera file, which the compositor's Movie Distortion node
# applies to the render so that CG lies on the footage.
#
# The add-on builds with it in the scene it works in, and lumeko-export writes
# this same text into its .py scene scripts after the track's data (TRACK)
# and before the call that builds a scene of its own. Blender 3.4 and later,
# bpy and mathutils alone.
#
# TRACK holds: "track" (the camera-motion file's name), "camera_name",
# "footage" (a movie or picture sequence, or None), "first_frame", "frames",
# "fps" (None: the footage's), "camera_size" (the camera file's frame),
# "lens" (Blender's lens for that frame: "focal", the render's "pixel_aspect"
# and "centre", "distortion_centre", "k" = k1, k2, k3 of Blender's polynomial
# model, "worst" = how far it lies from the camera file's over the frame and
# "claim", the most it may lie off for the scene to say that it matches; all
# in pixels, y down), "marker_width" (metres), "keys" (frame, location x, y, z,
# rotation quaternion w, x, y, z) and "marker_texture" (side, hexadecimal rgb
# rows from the bottom); with several markers on the set, "set": each further
# marker's "name", "width" (metres), "matrix" (3 x 4, rows, its place in the
# first marker's coordinates, metres) and "texture" (as "marker_texture").

import os
import re

import bpy
from mathutils import Matrix

# The custom property on what a build made, so that the next build replaces
# only that.
OWNED = "lumeko_track"
# The compositor node that lays the render onto the footage.
LENS_NODE = "Lumeko lens"


def footage_file(path, first_frame):
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
                found.append((int(match.group(1)) != first_frame, int(match.group(1)), entry))
    return os.path.join(folder, min(found)[2]) if found else path


def load_footage(track, scene):
    if track["footage"] is None:
        return None
    path = footage_file(track["footage"], track["first_frame"])
    if not os.path.isfile(path):
        print("lumeko: %s is not there: the scene has no background" % track["footage"])
        return None
    clip = bpy.data.movieclips.load(path, check_existing=True)
    clip.frame_start = track["first_frame"]  # its first frame on the track's first frame
    return clip


def clip_lens(track, width):
    """The track's lens for frames `width` wide: Lumeko resizes the camera
    file to the frames by the ratio of the widths."""
    lens = dict(track["lens"])
    scale = width / track["camera_size"][0]
    lens["focal"] *= scale
    lens["worst"] *= scale
    lens["centre"] = tuple(v * scale for v in lens["centre"])
    lens["distortion_centre"] = tuple(v * scale for v in lens["distortion_centre"])
    return lens


def own(thing):
    thing[OWNED] = True
    return thing


def make_camera(track, scene, clip, lens, size):
    width, height = size
    fx = lens["focal"]
    fy = fx * lens["pixel_aspect"]
    cx, cy = lens["centre"]
    render = scene.render
    render.resolution_x, render.resolution_y, render.resolution_percentage = width, height, 100
    render.pixel_aspect_x, render.pixel_aspect_y = max(1.0, fy / fx), max(1.0, fx / fy)
    data = own(bpy.data.cameras.new(track["camera_name"]))
    data.sensor_fit = "HORIZONTAL"
    data.sensor_width = 36.0
    data.sensor_height = 36.0 * height / width
    data.lens = fx * data.sensor_width / width
    # Pixel (x, y) of the camera file is centred on (x + 0.5, y + 0.5) of
    # Blender's frame; the shift is in widths of the frame.
    data.shift_x = (width / 2.0 - cx - 0.5) / width
    data.shift_y = (cy + 0.5 - height / 2.0) * fx / fy / width
    data.clip_start = track["marker_width"] / 100.0
    data.clip_end = track["marker_width"] * 10000.0
    if clip is not None:
        data.show_background_images = True
        background = data.background_images.new()
        background.source = "MOVIE_CLIP"
        background.clip = clip
        background.alpha = 1.0
        # The viewport shows the footage as the pinhole camera sees it.
        background.clip_user.use_render_undistorted = any(lens["k"])
    camera = own(bpy.data.objects.new(track["camera_name"], data))
    scene.collection.objects.link(camera)
    scene.camera = camera
    keys = track["keys"]
    camera.rotation_mode = "QUATERNION"
    camera.location = keys[0][1:4]
    camera.rotation_quaternion = keys[0][4:8]
    action = own(bpy.data.actions.new(track["camera_name"]))
    camera.animation_data_create().action = action
    channels = [("location", i, 1 + i) for i in range(3)]
    channels += [("rotation_quaternion", i, 4 + i) for i in range(4)]
    for path, index, column in channels:
        curve = action.fcurves.new(path, index=index, action_group="track")
        curve.keyframe_points.add(len(keys))
        curve.keyframe_points.foreach_set("co", [v for key in keys for v in (key[0], key[column])])
        for point in curve.keyframe_points:
            point.interpolation = "LINEAR"
        curve.update()
    return camera


def set_clip_lens(clip, lens):
    """The clip's tracking camera: its focal length, principal point (Blender
    counts pixels from the bottom row, centres on whole numbers) and the
    polynomial distortion."""
    camera = clip.tracking.camera
    camera.sensor_width = 36.0
    camera.units = "PIXELS"
    camera.focal_length_pixels = lens["focal"]
    # Our lens moves points radially in pixels, as Blender's does with square
    # pixels, whatever the render's pixel aspect.
    camera.pixel_aspect = 1.0
    x0, y0 = lens["distortion_centre"]
    principal = (x0, clip.size[1] - 1.0 - y0)
    if hasattr(camera, "principal_point_pixels"):
        camera.principal_point_pixels = principal
    else:
        camera.principal = principal
    camera.distortion_model = "POLYNOMIAL"
    camera.k1, camera.k2, camera.k3 = lens["k"]


def set_compositor(scene, clip):
    """Render Layers -> Movie Distortion (the clip's lens) -> Composite, in a
    scene whose compositor holds nothing else (or is not made yet); False when
    the scene composites otherwise, which is left as it is."""
    tree = scene.node_tree
    if tree is not None and tree.nodes.get(LENS_NODE) is None:
        kinds = sorted(n.bl_idname for n in tree.nodes)
        if kinds != ["CompositorNodeComposite", "CompositorNodeRLayers"]:
            return False
    scene.use_nodes = True
    tree = scene.node_tree
    node = tree.nodes.get(LENS_NODE)
    if node is None:
        layers = next(n for n in tree.nodes if n.bl_idname == "CompositorNodeRLayers")
        composite = next(n for n in tree.nodes if n.bl_idname == "CompositorNodeComposite")
        node = tree.nodes.new("CompositorNodeMovieDistortion")
        node.name = node.label = LENS_NODE
        node.distortion_type = "DISTORT"
        node.location = (layers.location.x + 300, layers.location.y)
        composite.location.x += 200
        tree.links.new(layers.outputs["Image"], node.inputs["Image"])
        tree.links.new(node.outputs["Image"], composite.inputs["Image"])
    node.clip = clip
    return True


def make_square(scene, name, width, texture):
    """A square `width` wide in its XY plane with the picture `texture`
    (side, hexadecimal rgb rows from the bottom) upright seen from +Z."""
    half = width / 2.0
    mesh = own(bpy.data.meshes.new(name))
    mesh.from_pydata([(-half, -half, 0.0), (half, -half, 0.0), (half, half, 0.0),
                      (-half, half, 0.0)], [], [(0, 1, 2, 3)])
    uv = mesh.uv_layers.new(name="UVMap")
    for loop, corner in zip(uv.data, [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0)]):
        loop.uv = corner
    size, rows = texture
    image = own(bpy.data.images.new(name, size, size))
    rgb = bytes.fromhex("".join(rows))
    pixels = []
    for i in range(0, len(rgb), 3):
        pixels += (rgb[i] / 255.0, rgb[i + 1] / 255.0, rgb[i + 2] / 255.0, 1.0)
    image.pixels.foreach_set(pixels)
    image.pack()
    material = own(bpy.data.materials.new(name))
    material.use_nodes = True
    node = material.node_tree.nodes.new("ShaderNodeTexImage")
    node.image = image
    node.interpolation = "Closest"
    shader = material.node_tree.nodes["Principled BSDF"]
    material.node_tree.links.new(node.outputs["Color"], shader.inputs["Base Color"])
    mesh.materials.append(material)
    square = own(bpy.data.objects.new(name, mesh))
    scene.collection.objects.link(square)
    return square


def make_marker(track, scene):
    """The first marker at the origin, and a set's further markers where its
    layout puts them (each tagged with its number, "lumeko_marker")."""
    make_square(scene, "marker", track["marker_width"], track["marker_texture"])
    for placed in track.get("set", []):
        square = make_square(scene, placed["name"], placed["width"], placed["texture"])
        square["lumeko_marker"] = int(placed["name"].split()[-1])
        rows = [list(row) for row in placed["matrix"]] + [[0.0, 0.0, 0.0, 1.0]]
        square.matrix_world = Matrix(rows)


def remove_earlier(scene):
    """Removes what an earlier build made in `scene`: its camera and marker,
    and their data, action, material and picture once nothing else uses them."""
    for obj in [o for o in scene.objects if o.get(OWNED)]:
        leftovers = [obj.data]
        if obj.animation_data is not None and obj.animation_data.action is not None:
            leftovers.append(obj.animation_data.action)
        if obj.type == "MESH":
            for material in obj.data.materials:
                leftovers.append(material)
                if material is not None and material.node_tree is not None:
                    leftovers += [n.image for n in material.node_tree.nodes
                                  if n.bl_idname == "ShaderNodeTexImage" and n.image is not None]
        bpy.data.objects.remove(obj)
        for thing in leftovers:
            if thing is None or not thing.get(OWNED) or thing.users > 0:
                continue
            for kind, collection in ((bpy.types.Camera, bpy.data.cameras),
                                     (bpy.types.Mesh, bpy.data.meshes),
                                     (bpy.types.Action, bpy.data.actions),
                                     (bpy.types.Material, bpy.data.materials),
                                     (bpy.types.Image, bpy.data.images)):
                if isinstance(thing, kind):
                    collection.remove(thing)
                    break


def lens_words(lens):
    if not any(lens["k"]):
        return "the camera file's lens has no distortion"
    text = ("the lens: Blender's polynomial model (k1 %.6g, k2 %.6g, k3 %.6g) lies within "
            "%.3f px of the camera file's over the frame" % (*lens["k"], lens["worst"]))
    if lens["worst"] > lens["claim"]:
        text += (", more than %g px: the Movie Distortion node lays the render that far off "
                 "the footage near the frame's edges" % lens["claim"])
    return text


def build(track, scene, clip):
    """Builds the track into `scene` with `clip` (or None) behind the camera,
    replacing what an earlier build made there. Returns what it did, a line
    each."""
    remove_earlier(scene)
    size = tuple(track["camera_size"])
    if clip is not None and clip.size[0] > 0:
        size = (clip.size[0], clip.size[1])
    lens = clip_lens(track, size[0])
    camera = make_camera(track, scene, clip, lens, size)
    make_marker(track, scene)
    scene.frame_start = track["first_frame"]
    scene.frame_end = track["first_frame"] + track["frames"] - 1
    fps = track["fps"] or (clip.fps if clip is not None and clip.fps > 0 else 30)
    scene.render.fps = max(1, round(fps))
    scene.render.fps_base = scene.render.fps / fps
    done = ["made the camera %s: %d keys, frames %d to %d"
            % (camera.name, len(track["keys"]), scene.frame_start, scene.frame_end)]
    if clip is not None:
        scene.active_clip = clip
        set_clip_lens(clip, lens)
        if any(lens["k"]) and not set_compositor(scene, clip):
            done.append("the compositor is the scene's own: add a Movie Distortion node of "
                        "%s after the render to lay it on the footage" % clip.name)
    elif any(lens["k"]):
        done.append("without footage there is no clip to hold the lens distortion")
    done.append(lens_words(lens))
    scene.frame_set(track["first_frame"])
    return done


def make_scene(track):
    """A new scene named Lumeko with the track, shown in every window."""
    scene = bpy.data.scenes.new("Lumeko")
    for window in bpy.context.window_manager.windows:
        window.scene = scene
    scene.view_settings.view_transform = "Standard"
    for line in build(track, scene, load_footage(track, scene)):
        print("lumeko: " + line)
    return scene
