# Renders a printed marker on a sheet of glossy paper under a lamp with
# Blender's Cycles, as a hand-held camera moving past the lamp's reflection
# sees it: the highlight slides over the border and greys one side of it.
# The camera takes the poses of a truth table made by lumeko-render (one
# marker-to-camera pose a frame: x right, y down, z forward in the camera;
# millimetres), so the truth and the footage agree; the shutter is open half
# the frame, the camera moving between the frames' poses.
#
#   blender -b -P scripts/glossy_sheet.py -- TRUTH.csv MARKER.png HFOV WxH SAMPLES OUT_PATTERN [FIRST:LAST] [matte]
#
# MARKER.png is the printed marker with its white margin (lumeko-pattern
# --print): its black square is two thirds of the picture, 80 mm on the sheet.
# OUT_PATTERN is a Blender output path such as /tmp/glossy/frame_####.
# "matte" prints on rough uncoated paper instead: no highlight, the blur alone.
import csv
import math
import sys

import bpy
from mathutils import Matrix

args = sys.argv[sys.argv.index("--") + 1:]
truth, marker, hfov, size, samples, out = args[:6]
frames = next((a for a in args[6:] if ":" in a), None)
MATTE = "matte" in args[6:]
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
table = bpy.data.materials.new("table")
table.use_nodes = True
table.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.25, 0.16, 0.09, 1)
table.node_tree.nodes["Principled BSDF"].inputs["Roughness"].default_value = 0.7
plane("table", 1500.0, 1500.0, -0.5, table)

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
# the smear's middle lies off the truth where the camera turns back.
camera.cycles.motion_steps = 3

# Blender's camera looks down its -z with y up: flip y and z of the truth's.
FLIP = Matrix(((1, 0, 0), (0, -1, 0), (0, 0, -1)))
rows = list(csv.DictReader(open(truth)))
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
for curve in camera.animation_data.action.fcurves:
    for key in curve.keyframe_points:
        key.interpolation = "LINEAR"
scene.frame_start, scene.frame_end = 1, len(rows)
if frames:  # a part of the clip (frames counted from 1)
    scene.frame_start, scene.frame_end = (int(v) for v in frames.split(":"))
bpy.ops.render.render(animation=True)
