#include "aes256.h"
