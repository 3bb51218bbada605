#include "pose/rotation_angles.h"
