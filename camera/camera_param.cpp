#include "camera/camera_param.h"
