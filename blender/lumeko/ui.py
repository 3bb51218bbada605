# The add-on's settings, panel, operators and preferences. Track runs, in a
# temporary working folder: the camera file's making (lumeko-camera, or
# lumeko-calibrate --marker for "from the shot"), Lumeko on the clip and
# lumeko-export of the track as a scene script, whose data the scene module
# then builds into the current scene. Nothing in the scene changes until all
# of them have ended well.

import ast
import os
import re
import shutil
import subprocess
import tempfile

import bpy
from bpy.props import (BoolProperty, EnumProperty, FloatProperty, PointerProperty,
                       StringProperty)

from . import runner, scene

PROGRAMS = ("Lumeko", "lumeko-camera", "lumeko-calibrate", "lumeko-export")
UNITS = {"MM": ("mm", 0.001), "CM": ("cm", 0.01), "M": ("m", 1.0), "IN": ("in", 0.0254)}
# Lumeko's options, each beside --best, which turns them all on.
OPTIONS = (("refine", "--refine", "Sub-pixel edges and a converged pose"),
           ("adaptive_threshold", "--adaptive-threshold", "Local thresholds for uneven light"),
           ("auto_threshold", "--auto-threshold", "Thresholds chosen from the frame: dim, flat footage"),
           ("large_markers", "--large-markers", "Let the marker cover more of a large frame"),
           ("strict_history", "--strict-history", "Hold the marker only on squares like it"),
           ("robust_sides", "--robust-sides", "Take a marker whose side is dented or covered"),
           ("more_squares", "--more-squares", "Look past a busy floor's first 30 squares for the marker"),
           ("sheen_threshold", "--sheen-threshold", "A threshold below the paper: a lamp's sheen on glossy paper"),
           ("bridge", "--bridge", "Keep the camera while the marker is out of view"),
           ("no_smoothing", "--no-smoothing", "Write the keys as tracked, without smoothing"),
           ("follow", "--follow", "Follow the marker where it is smeared by motion or lost"))
# How the footage's levels encode light (--transfer), for the smeared edges
# and the following: with --best too, since it turns both on.
TRANSFERS = (("SRGB", "srgb", "sRGB: most cameras' and renderers' output"),
             ("REC709", "rec709", "Rec. 709 video"),
             ("LINEAR", "linear", "Levels proportional to light"))
STILLS = (".jpg", ".jpeg", ".png", ".ppm", ".pgm")


def addon_version():
    from . import bl_info
    return ".".join(map(str, bl_info["version"]))


def preferences(context):
    return context.preferences.addons[__package__].preferences


def find_program(name, folder):
    """`name` in the preferences' folder, else on PATH; None when neither has it."""
    if folder:
        path = os.path.join(bpy.path.abspath(folder), name)
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    return shutil.which(name)


def program_version(path):
    try:
        said = subprocess.run([path, "--version"], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=10).stdout.split()
    except (OSError, subprocess.SubprocessError):
        return None
    return said[-1] if said else None


def check_programs(folder):
    """One line on where the programs are and whether their version is the add-on's."""
    missing, other = [], []
    for name in PROGRAMS:
        path = find_program(name, folder)
        version = program_version(path) if path is not None else None
        if path is None:
            missing.append(name)
        elif version != addon_version():
            other.append("%s is %s" % (name, version))
    if missing:
        return "not found: %s (install the lumeko package, or say where the programs are)" % (
            ", ".join(missing))
    if other:
        return "%s; the add-on is %s: install both from the same package" % (
            ", ".join(other), addon_version())
    return "Lumeko %s and its tools, as the add-on" % addon_version()


class LumekoPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    programs: StringProperty(
        name="Programs", subtype="DIR_PATH",
        description="The folder holding Lumeko and its tools; empty: found on PATH")
    checked: StringProperty(name="Check", default="")

    def draw(self, context):
        layout = self.layout
        layout.prop(self, "programs")
        row = layout.row()
        row.operator("lumeko.check_programs", icon="CHECKMARK")
        row.label(text=self.checked)


class LumekoClipSettings(bpy.types.PropertyGroup):
    pattern: StringProperty(name="Pattern", subtype="FILE_PATH",
                            description="The marker's pattern file")
    width: FloatProperty(name="Printed width", default=80.0, min=1e-6, soft_max=10000.0,
                         description="The printed width of the marker's black square")
    unit: EnumProperty(name="Unit", default="MM",
                       items=[(key, name, "") for key, (name, _) in UNITS.items()])
    camera: EnumProperty(
        name="Camera", default="FILE",
        items=[("FILE", "Camera file", "A camera file (lumeko-camera, lumeko-calibrate)"),
               ("LENS", "Lens", "The lens's focal length and the sensor's width, in mm"),
               ("SHOT", "From the shot", "Measured from the marker in the clip "
                        "(lumeko-calibrate --marker)")])
    camera_file: StringProperty(name="Camera file", subtype="FILE_PATH")
    focal_mm: FloatProperty(name="Focal length", default=35.0, min=1e-3, unit="CAMERA")
    sensor_width: FloatProperty(name="Sensor width", default=36.0, min=1e-3, unit="CAMERA")
    best: BoolProperty(name="Best", default=True,
                       description="Every improvement at once (--best): for real footage")
    show_options: BoolProperty(name="Options", default=False)
    transfer: EnumProperty(
        name="Transfer", default="SRGB",
        description="How the footage's levels encode light (--transfer)",
        items=[(key, name, text) for key, name, text in TRANSFERS])
    __annotations__.update({
        key: BoolProperty(name=flag, description=text) for key, flag, text in OPTIONS})


def clip_input(clip):
    """What Lumeko is given for the clip: the movie, or the sequence's name
    with its frame number as #s; and for lumeko-calibrate, the movie or the
    sequence's pictures."""
    path = os.path.abspath(bpy.path.abspath(clip.filepath))
    if clip.source != "SEQUENCE":
        return path, [path]
    folder, name = os.path.split(path)
    digits = re.match(r"(.*?)(\d+)(\D*)$", name)
    if digits is None:
        return path, [path]
    head, number, tail = digits.groups()
    numbered = re.compile(re.escape(head) + r"(\d{%d,})" % len(number) + re.escape(tail) + "$")
    pictures = sorted((int(m.group(1)), entry) for entry in os.listdir(folder)
                      for m in [numbered.match(entry)] if m)
    return (os.path.join(folder, head + "#" * len(number) + tail),
            [os.path.join(folder, entry) for _, entry in pictures])


def pattern_picture(pattern, path):
    """The pattern file's picture (its first direction), as a PPM for the
    scene's marker; False when the file cannot be read as a pattern."""
    try:
        with open(pattern) as f:
            values = [int(v) for v in f.read().split()[:768]]
    except (OSError, ValueError):
        return False
    if len(values) != 768:
        return False
    rgb = [values[plane * 256 + i] for i in range(256) for plane in (2, 1, 0)]
    with open(path, "w") as f:
        f.write("P3\n16 16\n255\n" + "\n".join(" ".join(map(str, rgb[row * 48:row * 48 + 48]))
                                                for row in range(16)) + "\n")
    return True


def plan_track(settings, clip, fps, folder, programs):
    """The job that tracks `clip` (a picture sequence at `fps`) in `folder`,
    or a message saying why not."""
    if not settings.pattern:
        return "give the marker's pattern file"
    pattern = os.path.abspath(bpy.path.abspath(settings.pattern))
    movie, pictures = clip_input(clip)
    width = "%.9g" % settings.width
    camera = os.path.join("Data", "camera_para.dat")
    os.makedirs(os.path.join(folder, "Data"))
    steps = []
    if settings.camera == "FILE":
        source = bpy.path.abspath(settings.camera_file)
        try:
            shutil.copyfile(source, os.path.join(folder, camera))
        except OSError as failure:
            return "the camera file %s: %s" % (source or "(none given)", failure.strerror)
    elif settings.camera == "LENS":
        steps.append(runner.Step("Writing the camera file", [
            programs["lumeko-camera"], "write", camera, "--size", "%dx%d" % tuple(clip.size),
            "--focal-mm", "%.9g" % settings.focal_mm,
            "--sensor-width", "%.9g" % settings.sensor_width], 0.0))
    else:
        if clip.source == "SEQUENCE" and not all(p.lower().endswith(STILLS) for p in pictures):
            return "from the shot needs a movie or JPEG, PNG, PPM or PGM pictures"
        steps.append(runner.Step("Measuring the camera from the shot", [
            programs["lumeko-calibrate"], "--marker", pattern, "--width", width,
            "--output", camera] + pictures, 0.45, len(pictures)))
    options = ["--best"] if settings.best else [
        flag for key, flag, _ in OPTIONS if getattr(settings, key)]
    if settings.transfer != "SRGB":
        options += ["--transfer", dict((k, n) for k, n, _ in TRANSFERS)[settings.transfer]]
    if clip.source == "SEQUENCE":
        options += ["--fps", "%.6g" % fps]
    share = 1.0 - 0.1 - sum(step.share for step in steps)
    steps.append(runner.Step("Tracking", [programs["Lumeko"]] + options + [
        "--", pattern, width, "0", "M", movie], share, clip.frame_duration))
    export = [programs["lumeko-export"], "Lumeko.cm2", "scene.py", "--camera", camera,
              "--first-frame", str(clip.frame_start), "--width", width,
              "--metres-per-unit", "%.9g" % UNITS[settings.unit][1], "--footage", movie]
    if pattern_picture(pattern, os.path.join(folder, "marker.ppm")):
        export += ["--picture", "marker.ppm"]
    steps.append(runner.Step("Making the scene", export, 0.1))
    return runner.Job(folder, steps)


def read_track(path):
    """The data of a scene script lumeko-export wrote, read without running it."""
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    for node in tree.body:
        if isinstance(node, ast.Assign) and [t.id for t in node.targets
                                             if isinstance(t, ast.Name)] == ["TRACK"]:
            return ast.literal_eval(node.value)
    raise ValueError("%s holds no track" % path)


def the_clip(context, name):
    if name:
        return bpy.data.movieclips.get(name)
    return getattr(context, "edit_movieclip", None) or context.scene.active_clip


class Tracking:
    """One Track: its folder, its job, and the end that builds the scene."""

    def __init__(self, context, clip):
        self.clip_name = clip.name
        self.folder = None
        self.job = None
        prefs = preferences(context)
        programs = {name: find_program(name, prefs.programs) for name in PROGRAMS}
        needed = ["Lumeko", "lumeko-export"] + {
            "FILE": [], "LENS": ["lumeko-camera"], "SHOT": ["lumeko-calibrate"]}[
            clip.lumeko.camera]
        missing = [name for name in needed if programs[name] is None]
        if missing:
            self.failure = ("Lumeko: %s not found: install the lumeko package, or say in the "
                            "add-on's preferences where the programs are" % ", ".join(missing))
            return
        self.folder = tempfile.mkdtemp(prefix="lumeko-")
        # A picture sequence has no rate of its own: the scene's.
        fps = clip.fps if clip.fps > 0 else context.scene.render.fps / context.scene.render.fps_base
        planned = plan_track(clip.lumeko, clip, fps, self.folder, programs)
        if isinstance(planned, str):
            self.failure = "Lumeko: " + planned
            self.close()
            return
        self.job = planned
        self.failure = ""

    def status(self):
        return "Lumeko: %s, %d %%" % (self.job.label.lower(), round(100 * self.job.progress))

    def finish(self, context, report):
        """After the job: builds the scene when all went well, reports, and
        removes the folder. The operator's result."""
        try:
            state = self.job.state
            if state == "cancelled":
                report({"INFO"}, "Lumeko: cancelled; the scene is as it was")
                return {"CANCELLED"}
            for warning in self.job.warnings:
                report({"WARNING"}, "Lumeko: " + warning)
            if state == "failed":
                report({"ERROR"}, self.job.message)
                return {"CANCELLED"}
            clip = bpy.data.movieclips.get(self.clip_name)
            if clip is None:
                report({"ERROR"}, "Lumeko: the clip %s is gone" % self.clip_name)
                return {"CANCELLED"}
            track = read_track(os.path.join(self.folder, "scene.py"))
            said = [line for lines in self.job.said for line in lines
                    if line.startswith("Lumeko.cm2:")]
            for line in said + scene.build(track, context.scene, clip):
                report({"INFO"}, "Lumeko: " + line)
            return {"FINISHED"}
        finally:
            self.close()

    def close(self):
        if self.folder is not None:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None


class LUMEKO_OT_track(bpy.types.Operator):
    """Track the clip's camera with Lumeko and build it into the scene"""
    bl_idname = "lumeko.track"
    bl_label = "Track"
    bl_options = {"REGISTER", "UNDO"}

    clip: StringProperty(name="Clip", description="The movie clip; empty: the editor's")

    @classmethod
    def poll(cls, context):
        return not context.window_manager.lumeko_running

    def start(self, context):
        clip = the_clip(context, self.clip)
        if clip is None:
            self.report({"ERROR"}, "Lumeko: no movie clip to track")
            return None
        tracking = Tracking(context, clip)
        if tracking.failure:
            self.report({"ERROR"}, tracking.failure)
            return None
        return tracking

    def execute(self, context):
        tracking = self.start(context)
        if tracking is None:
            return {"CANCELLED"}
        tracking.job.wait()
        return tracking.finish(context, self.report)

    def invoke(self, context, event):
        self._tracking = self.start(context)
        if self._tracking is None:
            return {"CANCELLED"}
        wm = context.window_manager
        wm.lumeko_running = True
        wm.lumeko_progress = 0.0
        wm.lumeko_status = self._tracking.status()
        self._timer = wm.event_timer_add(0.1, window=context.window)
        wm.modal_handler_add(self)
        return {"RUNNING_MODAL"}

    def modal(self, context, event):
        job = self._tracking.job
        if event.type == "ESC" and event.value == "PRESS":
            job.cancel()
        elif event.type != "TIMER":
            return {"PASS_THROUGH"}
        if job.poll() == "running":
            wm = context.window_manager
            wm.lumeko_progress = 100.0 * job.progress
            wm.lumeko_status = self._tracking.status()
            if context.workspace is not None:
                context.workspace.status_text_set(wm.lumeko_status + "   Esc: cancel")
            redraw_panels(context)
            return {"RUNNING_MODAL"}
        self.end(context)
        return self._tracking.finish(context, self.report)

    def end(self, context):
        wm = context.window_manager
        wm.event_timer_remove(self._timer)
        wm.lumeko_running = False
        wm.lumeko_status = ""
        if context.workspace is not None:
            context.workspace.status_text_set(None)
        redraw_panels(context)

    def cancel(self, context):
        self._tracking.job.cancel()
        self.end(context)
        self._tracking.close()


def redraw_panels(context):
    for window in context.window_manager.windows:
        for area in window.screen.areas:
            if area.type == "CLIP_EDITOR":
                area.tag_redraw()


class LUMEKO_OT_check_programs(bpy.types.Operator):
    """Find Lumeko's programs and check that their version is the add-on's"""
    bl_idname = "lumeko.check_programs"
    bl_label = "Check the programs"

    def execute(self, context):
        prefs = preferences(context)
        prefs.checked = check_programs(prefs.programs)
        self.report({"INFO"}, "Lumeko: " + prefs.checked)
        return {"FINISHED"}


class LUMEKO_PT_track(bpy.types.Panel):
    bl_space_type = "CLIP_EDITOR"
    bl_region_type = "UI"
    bl_category = "Lumeko"
    bl_label = "Lumeko"

    @classmethod
    def poll(cls, context):
        return context.edit_movieclip is not None

    def draw(self, context):
        layout = self.layout
        layout.use_property_split = True
        layout.use_property_decorate = False
        settings = context.edit_movieclip.lumeko
        wm = context.window_manager
        column = layout.column()
        column.enabled = not wm.lumeko_running
        column.prop(settings, "pattern")
        row = column.row(align=True)
        row.prop(settings, "width")
        row.prop(settings, "unit", text="")
        column.prop(settings, "camera")
        if settings.camera == "FILE":
            column.prop(settings, "camera_file", text="File")
        elif settings.camera == "LENS":
            column.prop(settings, "focal_mm")
            column.prop(settings, "sensor_width")
        column.prop(settings, "best")
        row = column.row()
        row.use_property_split = False
        row.prop(settings, "show_options", emboss=False,
                 icon="TRIA_DOWN" if settings.show_options else "TRIA_RIGHT")
        if settings.show_options:
            flags = column.column(align=True)
            flags.active = not settings.best
            for key, _, _ in OPTIONS:
                flags.prop(settings, key)
            column.prop(settings, "transfer")
        layout.separator()
        if wm.lumeko_running:
            column = layout.column()
            column.use_property_split = False
            column.label(text=wm.lumeko_status)
            column.prop(wm, "lumeko_progress", text="", slider=True)
            column.label(text="Esc cancels", icon="CANCEL")
        else:
            layout.operator("lumeko.track", icon="TRACKING")


CLASSES = (LumekoPreferences, LumekoClipSettings, LUMEKO_OT_track, LUMEKO_OT_check_programs,
           LUMEKO_PT_track)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.MovieClip.lumeko = PointerProperty(type=LumekoClipSettings)
    wm = bpy.types.WindowManager
    wm.lumeko_running = BoolProperty(default=False, options={"SKIP_SAVE"})
    wm.lumeko_progress = FloatProperty(subtype="PERCENTAGE", min=0.0, max=100.0,
                                       options={"SKIP_SAVE"})
    wm.lumeko_status = StringProperty(options={"SKIP_SAVE"})


def unregister():
    runner.cancel_all()
    for name in ("lumeko_running", "lumeko_progress", "lumeko_status"):
        delattr(bpy.types.WindowManager, name)
    del bpy.types.MovieClip.lumeko
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
