#include "document_file.h"
