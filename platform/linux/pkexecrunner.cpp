#include "platform/linux/pkexecrunner.h"

PrivilegedResult PkexecRunner::run(const QString&) {
    return {};
}
