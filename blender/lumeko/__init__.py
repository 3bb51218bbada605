# The Lumeko add-on: tracks the camera of the clip shown in the Movie Clip
# Editor from a printed marker, with Lumeko's programs, and builds the camera,
# its lens and the marker into the scene (see ui.py, scene.py, runner.py).

bl_info = {
    "name": "Lumeko",
    "author": "Lumeko developers",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Movie Clip Editor > Sidebar > Lumeko",
    "description": "Tracks the clip's camera from a printed marker with Lumeko and builds "
                   "it, its lens and the marker into the scene",
    "doc_url": "file:///usr/share/doc/lumeko/README.md",
    "category": "Motion Tracking",
}

if "ui" in locals():
    import importlib
    importlib.reload(runner)
    importlib.reload(scene)
    importlib.reload(ui)
else:
    from . import runner, scene, ui


def register():
    ui.register()


def unregister():
    ui.unregister()
