#include "manifest/package_select.h"

bool SelectPackage(PackageMatch*) { return false; }
