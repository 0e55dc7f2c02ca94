// The checks of raised errors all live in ExpectThrow.h.
#include "support/ExpectThrow.h"
