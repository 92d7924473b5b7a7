#include "gbi/checks.h"
