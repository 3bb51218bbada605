#include "app/key_table.h"
