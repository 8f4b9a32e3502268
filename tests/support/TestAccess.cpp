#include "support/TestAccess.h"
