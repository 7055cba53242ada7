// Installing and removing the root helper.
#include "blocking/blocker.h"

#include "platform/privilegedrunner.h"

void Blocker::install(std::function<void(bool)> completion) {
    if (completion) completion(false);
}

void Blocker::uninstall(std::function<void(bool)> completion) {
    if (completion) completion(false);
}

bool Blocker::runPrivileged(const QString&) {
    return false;
}
