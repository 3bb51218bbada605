#include "camera/distortion.h"
