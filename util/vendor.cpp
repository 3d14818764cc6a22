#include "util/vendor.h"

const char* const kVendorHost = "www.skyvane.example";
const char* const kVendorDownloadUrl = "http://www.skyvane.example/download/";
