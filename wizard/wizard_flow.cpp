#include "wizard_flow.h"
