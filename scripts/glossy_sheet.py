# Renders a printed marker on a sheet of glossy paper under a lamp with
# Blender's Cycles, as a hand-held camera moving past the lamp's reflection
# sees it: the highlight slides over the border and greys one side of it.
# The camera takes the poses of a truth table made by lumeko-render (one
# marker-to-camera pose a frame: x right, y down, z forward in the camera;
# millimetres), so the truth and the footage agree; the shutter is open half
# the frame, the camera moving between the frames' poses.
#
#   blender -b -P scripts/glossy_sheet.py -- TRUTH.csv MARKER.png HFOV WxH SAMPLES OUT_PATTERN \
#     [FIRST:LAST] [matte] [smooth] [wood] [pull=PX] [wall=Y] [box=X,Y,W,D,H]
#
# MARKER.png is the printed marker with its white margin (lumeko-pattern
# --print): its black square is two thirds of the picture, 80 mm on the sheet.
# OUT_PATTERN is a Blender output path such as /tmp/glossy/frame_####.
# "matte" prints on rough uncoated paper instead: no highlight, the blur alone.
# "smooth" moves the camera along a smooth curve through the frames' poses
# (as a hand does) instead of straight from one to the next: a path that
# turns sharply between frames then smears each frame unevenly about its
# pose, the way it came differing from the way it goes.
# "wood" lays the sheet on a table of wooden planks (grain, knots, stains and
# the planks' joints: corners for following points) instead of a plain one.
# "pull=PX" gives the lens a depth of field and pulls its focus over the
# clip: sharp on the marker at first, then focused nearer until the marker's
# middle is blurred over a disc PX pixels across (in the middle of the clip),
# then sharp on it again for the last fifth.
# "wall=Y" raises a brick wall 2 m high across the table at y = Y (mm, facing
# the marker) and makes the table 4 m across; "box=X,Y,W,D,H" stands a
# cardboard box on it (its base centred on X, Y, W along x, D along y).
import csv
import math
import sys

import bpy
from mathutils import Matrix

args = sys.argv[sys.argv.index("--") + 1:]
truth, marker, hfov, size, samples, out = args[:6]
frames = next((a for a in args[6:] if ":" in a), None)
MATTE = "matte" in args[6:]
SMOOTH = "smooth" in args[6:]
WOOD = "wood" in args[6:]
PULL = next((float(a[5:]) for a in args[6:] if a.startswith("pull=")), None)
WALL = next((float(a[5:]) for a in args[6:] if a.startswith("wall=")), None)
BOXES = [[float(v) for v in a[4:].split(",")] for a in args[6:] if a.startswith("box=")]
width, height = (int(v) for v in size.split("x"))
MM = 0.001  # the scene is in metres, the truth in millimetres
SQUARE = 80.0
PRINT = SQUARE * 1.5  # the printed picture, margin included
SHEET = (210.0, 297.0)

bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = int(samples)
scene.cycles.use_denoising = False
scene.cycles.max_bounces = 1
scene.cycles.seed = 7
scene.cycles.use_animated_seed = True
scene.render.resolution_x, scene.render.resolution_y = width, height
scene.render.resolution_percentage = 100
scene.render.use_motion_blur = True
scene.render.motion_blur_shutter = 0.5
scene.render.image_settings.file_format = "PNG"
scene.render.image_settings.color_mode = "RGB"
scene.render.filepath = out
scene.view_settings.view_transform = "Standard"  # plain sRGB, as a camera encodes
scene.view_settings.look = "None"
scene.render.fps = 30

world = bpy.data.worlds.new("room")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.02, 0.02, 0.02, 1)
scene.world = world


def glossy_paper(name, image=None):
    mat = bpy.data.materials.new(name)
    mat.use_nodes = True
    nodes, links = mat.node_tree.nodes, mat.node_tree.links
    bsdf = nodes["Principled BSDF"]
    bsdf.inputs["Roughness"].default_value = 0.9 if MATTE else 0.35
    bsdf.inputs["Specular"].default_value = 0.02
    bsdf.inputs["Clearcoat"].default_value = 0.0 if MATTE else 1.0  # the paper's glossy coat
    bsdf.inputs["Clearcoat Roughness"].default_value = 0.08
    if image is None:
        bsdf.inputs["Base Color"].default_value = (0.8, 0.8, 0.78, 1)
    else:
        tex = nodes.new("ShaderNodeTexImage")
        tex.image = bpy.data.images.load(image)
        tex.extension = "EXTEND"  # the margin is white: the sheet goes on white
        tex.interpolation = "Cubic"
        links.new(tex.outputs["Color"], bsdf.inputs["Base Color"])
    return mat


def plane(name, w, h, z, mat, uv_span=None):
    bpy.ops.mesh.primitive_plane_add(size=1.0, location=(0, 0, z * MM))
    obj = bpy.context.active_object
    obj.name = name
    obj.scale = (w * MM, h * MM, 1)
    obj.data.materials.append(mat)
    if uv_span:
        # The picture over the middle uv_span of the plane (1 across it).
        for loop in obj.data.loops:
            co = obj.data.vertices[loop.vertex_index].co
            obj.data.uv_layers.active.data[loop.index].uv = (co.x * w / uv_span + 0.5,
                                                              co.y * h / uv_span + 0.5)
    return obj


sheet = plane("sheet", SHEET[0], SHEET[1], 0.0, glossy_paper("paper", marker), PRINT)


def wooden_planks(mat):
    """Planks 70 mm wide in lengths of 300 mm, each its own shade, with a
    grain bent by noise, dark knots and blotchy stains: detail from a few
    millimetres to a few centimetres, with corners at the planks' ends and
    around the knots that a point follower can hold on to."""
    nodes, links = mat.node_tree.nodes, mat.node_tree.links
    bsdf = nodes["Principled BSDF"]
    coord = nodes.new("ShaderNodeTexCoord")
    mapping = nodes.new("ShaderNodeMapping")  # object space in millimetres
    mapping.inputs["Scale"].default_value = (1500.0, 1500.0, 1.0)
    links.new(coord.outputs["Object"], mapping.inputs["Vector"])
    planks = nodes.new("ShaderNodeTexBrick")
    planks.offset, planks.offset_frequency = 0.45, 2  # every other row shifted
    planks.squash, planks.squash_frequency = 1.0, 1
    planks.inputs["Scale"].default_value = 1.0 / 300.0
    planks.inputs["Brick Width"].default_value = 1.0
    planks.inputs["Row Height"].default_value = 70.0 / 300.0
    planks.inputs["Mortar Size"].default_value = 1.6 / 300.0
    planks.inputs["Bias"].default_value = 0.0
    planks.inputs["Color1"].default_value = (0.30, 0.19, 0.10, 1)
    planks.inputs["Color2"].default_value = (0.52, 0.35, 0.19, 1)
    planks.inputs["Mortar"].default_value = (0.05, 0.03, 0.02, 1)
    links.new(mapping.outputs["Vector"], planks.inputs["Vector"])
    grain = nodes.new("ShaderNodeTexWave")
    grain.wave_type, grain.bands_direction = "BANDS", "Y"  # bands across x: along the planks
    grain.inputs["Scale"].default_value = 1.0 / 40.0
    grain.inputs["Distortion"].default_value = 5.0
    grain.inputs["Detail"].default_value = 3.0
    grain.inputs["Detail Scale"].default_value = 2.0
    links.new(mapping.outputs["Vector"], grain.inputs["Vector"])
    knots = nodes.new("ShaderNodeTexVoronoi")
    knots.feature = "F1"
    knots.inputs["Scale"].default_value = 1.0 / 45.0
    links.new(mapping.outputs["Vector"], knots.inputs["Vector"])

    def ink(source, to_min, to_max, from_min=0.0, from_max=1.0):
        """A shade factor: `source` mapped from [from_min, from_max] onto [to_min, to_max]."""
        node = nodes.new("ShaderNodeMapRange")
        for name, value in (("From Min", from_min), ("From Max", from_max), ("To Min", to_min),
                            ("To Max", to_max)):
            node.inputs[name].default_value = value
        links.new(source, node.inputs["Value"])
        return node

    knot_ink = ink(knots.outputs["Distance"], 0.25, 1.0, 0.07, 0.12)  # a dark disc about 6 mm across a cell
    stains = nodes.new("ShaderNodeTexNoise")
    stains.inputs["Scale"].default_value = 1.0 / 25.0
    stains.inputs["Detail"].default_value = 6.0
    stains.inputs["Roughness"].default_value = 0.6
    links.new(mapping.outputs["Vector"], stains.inputs["Vector"])
    stain_ink = ink(stains.outputs["Fac"], 0.45, 1.15, 0.35, 0.65)
    grain_ink = ink(grain.outputs["Fac"], 0.7, 1.1)
    shade = planks.outputs["Color"]
    for factor in (grain_ink, knot_ink, stain_ink):
        mix = nodes.new("ShaderNodeMixRGB")
        mix.blend_type = "MULTIPLY"
        mix.inputs["Fac"].default_value = 1.0
        links.new(shade, mix.inputs["Color1"])
        links.new(factor.outputs["Result"], mix.inputs["Color2"])
        shade = mix.outputs["Color"]
    links.new(shade, bsdf.inputs["Base Color"])


table = bpy.data.materials.new("table")
table.use_nodes = True
table.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.25, 0.16, 0.09, 1)
table.node_tree.nodes["Principled BSDF"].inputs["Roughness"].default_value = 0.7
if WOOD:
    wooden_planks(table)
plane("table", 1500.0 if WALL is None else 4000.0, 1500.0 if WALL is None else 4000.0, -0.5, table)


def textured(name, size, per_metre, colour1, colour2, mortar, brick):
    """Bricks (or, with `brick` false, cardboard's blotches) over a block of
    `size` (mm along x, y, z), `per_metre` texture units a metre every way."""
    mat = bpy.data.materials.new(name)
    mat.use_nodes = True
    nodes, links = mat.node_tree.nodes, mat.node_tree.links
    bsdf = nodes["Principled BSDF"]
    bsdf.inputs["Roughness"].default_value = 0.85
    coord = nodes.new("ShaderNodeTexCoord")
    mapping = nodes.new("ShaderNodeMapping")
    mapping.inputs["Scale"].default_value = tuple(v * MM * per_metre for v in size)
    links.new(coord.outputs["Generated"], mapping.inputs["Vector"])
    if brick:
        # The texture's rows run along its y: turned, they run along the wall.
        turned = nodes.new("ShaderNodeMapping")
        turned.inputs["Rotation"].default_value = (math.radians(90), 0, 0)
        links.new(mapping.outputs["Vector"], turned.inputs["Vector"])
        mapping = turned
        tex = nodes.new("ShaderNodeTexBrick")
        tex.inputs["Scale"].default_value = 1.0
        tex.inputs["Mortar Size"].default_value = 0.015
        tex.inputs["Color1"].default_value = colour1
        tex.inputs["Color2"].default_value = colour2
        tex.inputs["Mortar"].default_value = mortar
        links.new(mapping.outputs["Vector"], tex.inputs["Vector"])
    else:
        voronoi = nodes.new("ShaderNodeTexVoronoi")
        voronoi.inputs["Scale"].default_value = 1.0
        links.new(mapping.outputs["Vector"], voronoi.inputs["Vector"])
        tex = nodes.new("ShaderNodeValToRGB")  # cells from colour1 to colour2
        tex.color_ramp.elements[0].color = colour1
        tex.color_ramp.elements[1].color = colour2
        links.new(voronoi.outputs["Distance"], tex.inputs["Fac"])
    noise = nodes.new("ShaderNodeTexNoise")
    noise.inputs["Scale"].default_value = 4.0
    noise.inputs["Detail"].default_value = 8.0
    links.new(mapping.outputs["Vector"], noise.inputs["Vector"])
    mix = nodes.new("ShaderNodeMixRGB")
    mix.blend_type = "MULTIPLY"
    mix.inputs["Fac"].default_value = 0.6
    links.new(tex.outputs["Color"], mix.inputs["Color1"])
    links.new(noise.outputs["Color"], mix.inputs["Color2"])
    links.new(mix.outputs["Color"], bsdf.inputs["Base Color"])
    return mat


def block(name, x, y, w, d, h, mat):
    bpy.ops.mesh.primitive_cube_add(size=1.0, location=(x * MM, y * MM, h / 2 * MM))
    obj = bpy.context.active_object
    obj.name = name
    obj.scale = (w * MM, d * MM, h * MM)
    obj.data.materials.append(mat)
    return obj


if WALL is not None:
    block("wall", 0.0, WALL + 30.0, 4000.0, 60.0, 2000.0,
          textured("bricks", (4000.0, 60.0, 2000.0), 4.0, (0.45, 0.16, 0.10, 1),
                   (0.30, 0.12, 0.08, 1), (0.55, 0.52, 0.48, 1), True))
for k, (x, y, w, d, h) in enumerate(BOXES):
    block(f"box{k}", x, y, w, d, h,
          textured(f"cardboard{k}", (w, d, h), 12.0, (0.55, 0.40, 0.25, 1), (0.45, 0.32, 0.20, 1),
                   (0, 0, 0, 1), False))

# The lamp: a soft box above and beyond the marker, facing it, whose
# reflection in the sheet's coat lies on the border's far side for this
# camera; dim enough that its sheen greys the ink rather than whitening it.
# The room's light comes from a large panel above the camera.
lamp_data = bpy.data.lights.new("lamp", "AREA")
lamp_data.shape = "SQUARE"
lamp_data.size = 70 * MM
lamp_data.energy = 0.5
lamp = bpy.data.objects.new("lamp", lamp_data)
scene.collection.objects.link(lamp)
lamp.location = (0 * MM, 320 * MM, 330 * MM)
lamp.rotation_euler = (math.radians(-42), 0, 0)
fill = bpy.data.lights.new("fill", "AREA")
fill.size = 1.5
fill.energy = 12.0
fill_obj = bpy.data.objects.new("fill", fill)
scene.collection.objects.link(fill_obj)
fill_obj.location = (-0.3, -0.6, 1.2)
fill_obj.rotation_euler = (math.radians(25), math.radians(-12), 0)

cam_data = bpy.data.cameras.new("camera")
cam_data.sensor_fit = "HORIZONTAL"
cam_data.angle = math.radians(float(hfov))
cam_data.clip_start = 0.01
camera = bpy.data.objects.new("camera", cam_data)
scene.collection.objects.link(camera)
scene.camera = camera
# The camera's path bends at every frame (its poses are keyed there, linear
# between): the shutter needs the frame's own pose among its time steps, or
# the smear's middle lies off the truth where the camera turns back. A
# smooth path takes more steps to follow its curve.
camera.cycles.motion_steps = 4 if SMOOTH else 3

# Blender's camera looks down its -z with y up: flip y and z of the truth's.
FLIP = Matrix(((1, 0, 0), (0, -1, 0), (0, 0, -1)))
rows = list(csv.DictReader(open(truth)))
if PULL is not None:
    # A thin lens at f/2: an object at s (mm) with the focus at d blurs over a
    # disc of a * f * |s - d| / (s * (d - f)) on the sensor, a = f / 2 the
    # aperture; focusing nearer than the marker's middle by just enough gives
    # the frame's blur in pixels there.
    cam_data.dof.use_dof = True
    cam_data.dof.aperture_fstop = 2.0
    focal = cam_data.lens
    aperture = focal / cam_data.dof.aperture_fstop
    pixel = cam_data.sensor_width / width


def focus_distance(n, depth):
    """The focus (mm) of frame n (from 0): on the marker's middle for the
    first and last fifth of the clip, pulled nearer between, the blur rising
    and falling as a sine's square to PULL pixels in the middle."""
    first, last = len(rows) / 5.0, len(rows) * 4.0 / 5.0
    share = min(max((n - first) / (last - first), 0.0), 1.0)
    blur = PULL * math.sin(math.pi * share) ** 2 * pixel
    return focal * depth * (aperture + blur) / (blur * depth + aperture * focal)


for n, row in enumerate(rows):
    r = Matrix([[float(row[f"r{i}{j}"]) for j in range(3)] for i in range(3)])
    t = [float(row[f"t{i}"]) for i in range(3)]
    rt = r.transposed()
    position = -(rt @ Matrix.Translation(t).to_translation())
    turn = rt @ FLIP
    world_of_camera = turn.to_4x4()
    world_of_camera.translation = position * MM
    camera.location = world_of_camera.translation
    camera.rotation_euler = world_of_camera.to_euler("XYZ", camera.rotation_euler)
    camera.keyframe_insert("location", frame=n + 1)
    camera.keyframe_insert("rotation_euler", frame=n + 1)
    if PULL is not None:
        cam_data.dof.focus_distance = focus_distance(n, t[2]) * MM
        cam_data.dof.keyframe_insert("focus_distance", frame=n + 1)
for keyed in (camera, cam_data) if PULL is not None else (camera,):
    for curve in keyed.animation_data.action.fcurves:
        for key in curve.keyframe_points:
            if SMOOTH and keyed is camera:
                key.interpolation = "BEZIER"
                key.handle_left_type = key.handle_right_type = "AUTO"
            else:
                key.interpolation = "LINEAR"
scene.frame_start, scene.frame_end = 1, len(rows)
if frames:  # a part of the clip (frames counted from 1)
    scene.frame_start, scene.frame_end = (int(v) for v in frames.split(":"))
bpy.ops.render.render(animation=True)
