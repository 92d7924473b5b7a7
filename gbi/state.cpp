#include "gbi/state.h"
