#include "pose/marker_pose.h"
