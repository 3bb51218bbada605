#include "app/camera_motion.h"
