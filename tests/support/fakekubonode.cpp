#include "fakekubonode.h"
