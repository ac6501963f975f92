#include "code_page.h"
