#pragma once

#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "layout/layout_records.h"
#include "track/camera_motion_reader.h"

// Conversion of a camera-motion file to interchange formats. All of them use
// the world of the key rows: X = the marker's x (right on the printed marker),
// Y = the marker's z (up, out of the marker), Z = -(the marker's y) (towards
// the viewer when the marker is seen upright): a right-handed Y-up world.
// The camera looks down its own -Z with its +Y up (the glTF camera), and its
// rotation is R = Ry(rotateY) Rx(rotateX) Rz(rotateZ): roll first, then
// pitch, then yaw. Positions are in the unit of the marker width, that is the
// key translations divided by TRANSLATION_SCALE.

struct ExportSettings {
    double fps = 30.0;             // frame rate of the footage
    double markerWidth = 80.0;     // printed marker width, in the unit positions use
    double metresPerUnit = 0.001;  // glTF only: metres per unit of the marker width
    int firstFrame = 0;            // number of the first frame (all formats)
    bool markerMesh = false;       // glTF only: the marker as a dark square mesh as well
    MarkerLayout layout;           // glTF and .py: the further markers of a set, where they lie
};

// The lens as the camera file describes it, for its own image size.
struct Lens {
    double verticalFovDegrees;
    double aspectRatio;  // tan(horizontal fov / 2) / tan(vertical fov / 2)
};
Lens lensOfCamera(const CameraParam& camera);

// A found row's camera in the world above: position in marker-width units
// and the rotation whose columns are the camera's right, up and backward axes.
struct WorldCamera {
    double position[3];
    double rotation[3][3];
};
WorldCamera worldCameraOfRow(const KeyRow& row);

// A set's marker in the world above, as the first marker lies in it (its x
// along X, out of it along Y, -(its y) along Z) moved where the layout puts
// it: W R W^T and W t of its pose relative to the first marker; the place
// in marker-width units.
struct WorldMarker {
    double position[3];
    double rotation[3][3];
};
WorldMarker worldMarkerOf(const PlacedMarker& placed);

// The layout in the world above as CSV: a header, then a line per placed
// marker, its number, pattern file, width, frames that saw it and its
// marker-to-world 4x4 matrix row by row (columns: its x, the way out of it,
// -(its y), and its place; the first marker's is the identity), as the
// track's CSV gives the camera's.
std::string layoutCsvText(const MarkerLayout& layout, const std::vector<std::string>& patterns);

// Unit quaternion (x, y, z, w) of a rotation matrix.
void quaternionOfRotation(const double r[3][3], double q[4]);

// Every format refuses, with -1 and `error` set, a track without any frame
// with the marker (there is no camera to export), frame numbers beyond
// INT_MAX, and a value that is not finite once converted (a key so large that
// it overflows), naming its row (the key number, from 0) and channel.

// A value on its way out: true when finite, else false with `error` naming
// its row and channel.
bool finiteOut(double value, int row, const char* channel, std::string& error);

// The checks on the track as a whole that every format makes: 0, or -1 with
// `error` set.
int checkTrack(const CameraMotion& motion, const ExportSettings& settings, std::string& error);

// ".chan" into `text`: one line per found frame, "frame tx ty tz rx ry rz
// vfov", the angles and the vertical field of view in degrees. 0 or -1.
int chanText(const CameraMotion& motion, const Lens& lens, const ExportSettings& settings,
             std::string& text, std::string& error);

// CSV into `text` with a header: frame, found, the six keys as stored, then
// the camera's 4x4 camera-to-world matrix row by row (empty for frames
// without the marker). 0 or -1.
int csvText(const CameraMotion& motion, const ExportSettings& settings, std::string& text,
            std::string& error);

// glTF 2.0: a perspective camera node animated by linear translation and
// rotation samplers with one key per found frame (time = (firstFrame + row) /
// fps), and a "marker" node at the origin with a node at each of its corners
// (a 3D package shows them as empties), and with `markerMesh` the marker as a
// dark square mesh on it; each further marker of `layout` placed as a node
// "marker N" where the layout puts it, with its corners as nodes of their
// own. `binary` writes .glb, otherwise .gltf with the
// buffer embedded. Its values are 32-bit floats: one beyond their range is
// refused as one that is not finite. 0, or -1 with `error` set.
int writeGltf(const std::string& path, const CameraMotion& motion, const Lens& lens,
              const ExportSettings& settings, bool binary, std::string& error);
