#include "app/run_flow.h"
