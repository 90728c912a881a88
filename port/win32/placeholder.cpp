#include "port/process.h"
