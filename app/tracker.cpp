#include "app/tracker.h"
