#include "io/app_path.h"

std::string app_path;
