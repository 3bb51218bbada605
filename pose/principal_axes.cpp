#include "pose/principal_axes.h"
