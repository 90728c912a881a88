#include "manager/manager.h"
