#include "gbi/symbols.h"
