#include "marker/detect_marker.h"
