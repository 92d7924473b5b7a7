#include "gbi/parser.h"
