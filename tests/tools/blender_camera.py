# Imports a glTF file into an empty Blender scene with the importer's default
# settings and prints the imported camera's world matrix at every frame of the
# track ("camera FRAME m00 .. m23") and where each empty lies ("empty X Y Z").
#   blender -b --factory-startup --python-exit-code 1 -P blender_camera.py -- FILE FPS FRAMES
import sys

import bpy

path, fps, frames = sys.argv[sys.argv.index("--") + 1:]
scene = bpy.context.scene
# The importer puts a key at the scene frame time x rate: at the footage's
# rate, the key of frame n lands on frame n.
scene.render.fps = int(fps)
scene.render.fps_base = 1.0
for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
bpy.ops.import_scene.gltf(filepath=path)
cameras = [obj for obj in scene.objects if obj.type == "CAMERA"]
print("cameras", len(cameras))
for frame in range(int(frames)):
    scene.frame_set(frame)
    for camera in cameras:
        m = camera.matrix_world
        print("camera", frame, " ".join("%.9g" % m[r][c] for r in range(3) for c in range(4)))
for obj in scene.objects:
    if obj.type == "EMPTY":
        print("empty", " ".join("%.9g" % v for v in obj.matrix_world.translation))
