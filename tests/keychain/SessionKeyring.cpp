// EmptyBus is defined in its header; this file keeps the build lists of its users.
#include "SessionKeyring.h"
