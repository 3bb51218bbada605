#include "pose/matrix.h"
