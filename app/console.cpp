#include "app/console.h"
