#include "key_derivation.h"
