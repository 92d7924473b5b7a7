#include "gbi/reader.h"
