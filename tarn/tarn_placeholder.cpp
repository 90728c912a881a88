#include "tarn/tarn.h"
std::atomic<int> tarn_error{0};
