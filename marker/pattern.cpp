#include "marker/pattern.h"
